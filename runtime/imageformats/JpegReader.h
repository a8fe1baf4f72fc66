#pragma once

#include "runtime/imageformats/ImageReader.h"

class ImageFile;

class JpegReader final : public ImageReader {
public:
    static bool recognises(ImageFile const& file);
    explicit JpegReader(ImageFile& file);
    ~JpegReader() override;

    bool readHeader(ImageHeader& header) override;
    bool decode(Picture& picture) override;

private:
    ImageFile& m_file;
};
