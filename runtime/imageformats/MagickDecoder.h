#pragma once

#include <cstddef>
#include <cstdint>

class ImageFile;
class Picture;

// Decodes a whole file with one of GraphicsMagick's coders, named so that
// the library never picks another by sniffing the content, and copies the
// pixels into the picture row by row. The coder takes the whole file and
// decodes into pixels of its own, 16 bits a channel, before the copy.
namespace magick_decoder {

// The memory the coder needs beside the picture, for the budget.
std::size_t workingBytes(ImageFile const& file, std::int64_t width, std::int64_t height);

// False when the coder finds the data damaged, or decodes a picture of
// another size than the picture's. Throws std::bad_alloc when the coder's
// memory cannot be had.
bool decode(char const* coder, ImageFile& file, Picture& picture);

}
