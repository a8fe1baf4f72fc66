#pragma once

#include "runtime/imageformats/ImageReader.h"

class ImageFile;

class TiffReader final : public ImageReader {
public:
    static bool recognises(ImageFile const& file);
    explicit TiffReader(ImageFile& file);
    ~TiffReader() override;

    bool readHeader(ImageHeader& header) override;
    bool decode(Picture& picture) override;

private:
    ImageFile& m_file;
};
