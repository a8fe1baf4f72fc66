#pragma once

#include "runtime/imageformats/ImageReader.h"

class ImageFile;

class TargaReader final : public ImageReader {
public:
    static bool recognises(ImageFile const& file);
    explicit TargaReader(ImageFile& file);
    ~TargaReader() override;

    bool readHeader(ImageHeader& header) override;
    bool decode(Picture& picture) override;

private:
    ImageFile& m_file;
};
