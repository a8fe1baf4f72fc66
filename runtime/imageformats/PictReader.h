#pragma once

#include "runtime/imageformats/ImageReader.h"

class ImageFile;

// PICT through GraphicsMagick's coder, the one well-kept decoder of the
// format.
class PictReader final : public ImageReader {
public:
    // By the name, or by the version opcode after the 512-byte header: the
    // format has no signature of its own.
    static bool recognises(ImageFile const& file);
    explicit PictReader(ImageFile& file);
    ~PictReader() override;

    bool readHeader(ImageHeader& header) override;
    bool decode(Picture& picture) override;

private:
    ImageFile& m_file;
};
