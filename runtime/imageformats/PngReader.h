#pragma once

#include "runtime/imageformats/ImageReader.h"

#include <cstdint>
#include <memory>

class ImageFile;

// PNG in every variant: 1 to 16 bits, grey, palette, RGB, with alpha or a
// transparent colour, interlaced or not. The image data is inflated with
// ISA-L, several times faster than zlib, and handed to libpng's progressive
// reader as stored deflate blocks, which zlib only copies: libpng does the
// unfiltering and the interlacing, and converts the rarer kinds to ARGB
// words; rows of 8 or 16-bit grey or RGB samples are converted here.
class PngReader final : public ImageReader {
public:
    static bool recognises(ImageFile const& file);
    explicit PngReader(ImageFile& file);
    ~PngReader() override;

    bool readHeader(ImageHeader& header) override;
    bool decode(Picture& picture) override;

    struct Decoding;

private:
    ImageFile& m_file;
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
    std::uint64_t m_imageBytes = 0; // the filtered rows of every pass, inflated
};
