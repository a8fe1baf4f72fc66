#pragma once

#include "runtime/imageformats/ImageReader.h"

#include <cstdint>

class ImageFile;
struct GifFileType;

// GIF through giflib: the first frame, placed on the file's canvas, with its
// transparent colour clear. Outside the frame the canvas stays clear.
class GifReader final : public ImageReader {
public:
    static bool recognises(ImageFile const& file);
    explicit GifReader(ImageFile& file);
    ~GifReader() override;

    bool readHeader(ImageHeader& header) override;
    bool decode(Picture& picture) override;

private:
    ImageFile& m_file;
    GifFileType* m_gif = nullptr;
    int m_transparent = -1; // the palette index that is clear, if any
};
