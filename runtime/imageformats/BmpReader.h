#pragma once

#include "runtime/imageformats/ImageReader.h"

class ImageFile;

// BMP of 1 to 32 bits, RLE4 and RLE8, bitfields, top-down or bottom-up,
// through GraphicsMagick's coder. The header is checked here first, so that
// a file too short for the rows it claims is refused before the coder takes
// memory for them.
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
