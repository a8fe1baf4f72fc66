#pragma once

#include "runtime/imageformats/ImageReader.h"

#include <cstdint>
#include <vector>

class ImageFile;

// Targa of types 1, 2, 3 (colour-mapped, true-colour, grey, or grey with
// alpha at 16 bits) and their RLE forms 9, 10 and 11, of 8 to 32 bits, in either row order, with or without
// the footer, decoded here: the format is a header and plain or run-length
// coded pixels, and GraphicsMagick's coder refuses colour maps of 32 bits.
// The format has no signature: the name marks it, and the header is
// checked against the file's length before anything is decoded.
class TargaReader final : public ImageReader {
public:
    static bool recognises(ImageFile const& file);
    explicit TargaReader(ImageFile& file);
    ~TargaReader() override;

    bool readHeader(ImageHeader& header) override;
    bool decode(Picture& picture) override;

private:
    std::uint32_t colourOf(unsigned char const* bytes, unsigned depth, bool forMap) const;

    ImageFile& m_file;
    unsigned m_type = 0;
    unsigned m_depth = 0;
    unsigned m_alphaBits = 0;
    bool m_topDown = false;
    bool m_rightToLeft = false;
    std::int64_t m_width = 0;
    std::int64_t m_height = 0;
    std::uint64_t m_pixelsAt = 0;
    std::vector<std::uint32_t> m_map; // ARGB words
};
