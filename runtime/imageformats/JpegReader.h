#pragma once

#include "runtime/imageformats/ImageReader.h"

#include <memory>

class ImageFile;

// JPEG through libjpeg-turbo: baseline and progressive, greyscale, colour
// and CMYK (inverted, as Adobe's files store it and as files without their
// marker are read), turned upright as the EXIF orientation says. A warning
// of the library that data is missing or corrupt (a premature end, a bad
// code) makes the file count as damaged; others do not.
class JpegReader final : public ImageReader {
public:
    static bool recognises(ImageFile const& file);
    explicit JpegReader(ImageFile& file);
    ~JpegReader() override;

    bool readHeader(ImageHeader& header) override;
    bool decode(Picture& picture) override;

    struct Decompressor;

private:
    ImageFile& m_file;
    std::unique_ptr<Decompressor> m_decompressor;
    Orientation m_orientation = Orientation::AsStored;
};
