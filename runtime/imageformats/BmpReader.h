#pragma once

#include "runtime/imageformats/ImageReader.h"

class ImageFile;

class BmpReader final : public ImageReader {
public:
    static bool recognises(ImageFile const& file);
    explicit BmpReader(ImageFile& file);
    ~BmpReader() override;

    bool readHeader(ImageHeader& header) override;
    bool decode(Picture& picture) override;

private:
    ImageFile& m_file;
};
