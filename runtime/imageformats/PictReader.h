#pragma once

#include "runtime/imageformats/ImageReader.h"

class ImageFile;

class PictReader final : public ImageReader {
public:
    static bool recognises(ImageFile const& file);
    explicit PictReader(ImageFile& file);
    ~PictReader() override;

    bool readHeader(ImageHeader& header) override;
    bool decode(Picture& picture) override;

private:
    ImageFile& m_file;
};
