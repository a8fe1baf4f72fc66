#pragma once

#include "runtime/imageformats/ImageReader.h"

class ImageFile;

class PngReader final : public ImageReader {
public:
    static bool recognises(ImageFile const& file);
    explicit PngReader(ImageFile& file);
    ~PngReader() override;

    bool readHeader(ImageHeader& header) override;
    bool decode(Picture& picture) override;

private:
    ImageFile& m_file;
};
