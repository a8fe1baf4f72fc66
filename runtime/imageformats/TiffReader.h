#pragma once

#include "runtime/imageformats/ImageReader.h"
#include "runtime/imageformats/TiffSamples.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class ImageFile;
class OrientedRows;
struct tiff;

// TIFF through libtiff: the first page, in strips or tiles, with any of the
// library's compressions, turned upright as its orientation tag says.
// Grey, bilevel, RGB, CMYK and palette pictures of integer or floating-point
// samples of any common size, with or without alpha, in one plane or in a
// plane a sample, and 8-bit YCbCr, are converted here (TiffSampleConverter),
// exactly; the rarer kinds (CIE L*a*b*, LogLuv, YCbCr in planes) through the
// library's own conversion to RGBA.
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
    tiff* open();
    bool readLayout();
    bool readYCbCr(TiffSampleLayout& layout) const;
    bool dataCanHoldPicture(bool& proveByDecoding) const;
    std::vector<std::uint32_t> palette() const;
    template <class Visit>
    bool readStoredRows(Visit const& visit);
    bool allDataDecodes();
    bool decodeSamples(OrientedRows& rows);
    bool decodeThroughLibrary(OrientedRows& rows);
    std::uint64_t workingBytes() const;
    bool workingMemoryIsPlausible() const;

    ImageFile& m_file;
    tiff* m_tiff = nullptr;
    std::vector<tiff*> m_planeHandles; // one more handle on the file for each further plane
    Reports m_reports;
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
    std::uint16_t m_samples = 1;
    std::uint16_t m_bits = 8;
    std::uint16_t m_photometric = 0;
    std::uint16_t m_planar = 1;
    std::uint16_t m_compression = 1;
    bool m_libraryPremultiplies = false;
    std::optional<TiffSampleLayout> m_layout; // when the samples are converted here
};
