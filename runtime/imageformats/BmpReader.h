#pragma once

#include "runtime/imageformats/ImageReader.h"

#include <array>
#include <cstdint>
#include <vector>

class ImageFile;

// BMP of 1 to 32 bits, RLE4 and RLE8, bit fields, top-down or bottom-up,
// decoded here. The format is a header and plain rows; the libraries at
// hand get parts of it wrong (GraphicsMagick's coder scales 5-bit channels
// to 247 at most, takes the unused fourth byte of 32-bit rows for alpha and
// refuses top-down files with the newest header).
class BmpReader final : public ImageReader {
public:
    static bool recognises(ImageFile const& file);
    explicit BmpReader(ImageFile& file);
    ~BmpReader() override;

    bool readHeader(ImageHeader& header) override;
    bool decode(Picture& picture) override;

private:
    bool readPalette(std::uint32_t at, std::uint32_t entries, std::uint32_t entryBytes);
    bool decodeRows(Picture& picture);
    bool decodeRunLengths(Picture& picture);
    std::uint32_t* rowOf(Picture& picture, std::int64_t fileRow) const;

    ImageFile& m_file;
    std::int64_t m_width = 0;
    std::int64_t m_height = 0;
    bool m_topDown = false;
    std::uint32_t m_depth = 0;
    std::uint32_t m_compression = 0;
    std::uint32_t m_pixelsAt = 0;
    std::array<std::uint32_t, 4> m_masks {}; // red, green, blue, alpha
    std::vector<std::uint32_t> m_palette; // ARGB words
};
