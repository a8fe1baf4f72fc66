#pragma once

#include "runtime/imageformats/ImageReader.h"

#include <cstdarg>
#include <cstdint>
#include <vector>

class ImageFile;
class OrientedRows;
struct tiff;

// TIFF through libtiff: the first page, in strips or tiles, with any of the
// library's compressions, turned upright as its orientation tag says.
// Grey and RGB pictures of 8 or 16 bits a sample, with or without alpha,
// and palettes are converted here exactly; every other kind (bilevel, CMYK,
// separate planes) through the library's own conversion to RGBA.
class TiffReader final : public ImageReader {
public:
    static bool recognises(ImageFile const& file);
    explicit TiffReader(ImageFile& file);
    ~TiffReader() override;

    bool readHeader(ImageHeader& header) override;
    bool decode(Picture& picture) override;

    // What the library reported while reading.
    struct Reports {
        bool damaged = false;
        bool outOfMemory = false;
    };

private:
    bool dataCanHoldPicture() const;
    bool convertsExactly() const;
    std::vector<std::uint32_t> palette() const;
    bool decodeSamples(OrientedRows& rows);
    bool decodeThroughLibrary(OrientedRows& rows);

    ImageFile& m_file;
    tiff* m_tiff = nullptr;
    Reports m_reports;
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
    std::uint16_t m_samples = 1;
    std::uint16_t m_bits = 8;
    std::uint16_t m_photometric = 0;
    std::uint16_t m_planar = 1;
    int m_alpha = -1; // the sample that holds alpha, if any
    bool m_premultiplied = false;
    bool m_libraryPremultiplies = false;
};
