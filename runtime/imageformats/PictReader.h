#pragma once

#include "runtime/imageformats/ImageReader.h"

#include <cstddef>

class ImageFile;

// PICT through GraphicsMagick's coder, the one well-kept decoder of the
// format, bounded to the file's frame: in memory, in pixels and sides, and
// with no pixel cache on the disk.
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
    // What the coder may take beside the picture, by the header.
    std::size_t m_workingBytes = 0;
};
