#pragma once

#include "runtime/imageformats/ImageReader.h"

class ImageFile;

class GifReader final : public ImageReader {
public:
    static bool recognises(ImageFile const& file);
    explicit GifReader(ImageFile& file);
    ~GifReader() override;

    bool readHeader(ImageHeader& header) override;
    bool decode(Picture& picture) override;

private:
    ImageFile& m_file;
};
