#pragma once

#include "runtime/imageformats/ImageReader.h"

class ImageFile;

// Targa of types 1, 2, 3 (colour-mapped, true-colour, grey) and their RLE
// forms 9, 10 and 11, of 8 to 32 bits, in either row order, with or without
// the footer, through GraphicsMagick's coder. The format has no signature:
// the name marks it, and the header is checked here first, so that a file
// too short for what it claims is refused before the coder takes memory.
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
