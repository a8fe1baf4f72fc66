#pragma once

#include <cstddef>
#include <cstdint>

class Picture;

// How the stored rows of a picture are turned to show it upright, numbered
// as the orientation tags of photographs number them: 1 is as stored, 2
// mirrored left to right, 3 turned half round, 4 mirrored top to bottom, 5
// mirrored along the main diagonal, 6 turned a quarter clockwise, 7 mirrored
// along the other diagonal, 8 turned a quarter counter-clockwise.
enum class Orientation : std::uint8_t {
    AsStored = 1,
    Mirrored = 2,
    HalfTurn = 3,
    Flipped = 4,
    Transposed = 5,
    QuarterTurnClockwise = 6,
    Transversed = 7,
    QuarterTurnCounterClockwise = 8,
};

// True for the orientations that swap width and height.
constexpr bool swapsSides(Orientation orientation)
{
    return static_cast<int>(orientation) >= static_cast<int>(Orientation::Transposed);
}

// What a file's header says about the picture in it.
struct ImageHeader {
    // The stored size, before the orientation is applied.
    std::int64_t width = 0;
    std::int64_t height = 0;
    Orientation orientation = Orientation::AsStored;
    // Memory that the decoder needs beside the picture's own pixels, when
    // that is more than a few rows (a whole-image buffer of the format).
    std::size_t workingBytes = 0;

    std::int64_t uprightWidth() const { return swapsSides(orientation) ? height : width; }
    std::int64_t uprightHeight() const { return swapsSides(orientation) ? width : height; }
};

// The reader of one file format. Picture::Open finds the reader by the file's
// signature, has it read the header, makes a blank picture of the upright
// size and then has the reader decode into it.
//
// A reader's answer to a damaged file is failure: no header, or a decode
// that gives false, whatever the library behind it managed to fill in. A
// header that claims more pixels than the file's data can hold counts as
// damaged wherever the format lets that be known. A reader throws
// std::bad_alloc when memory for decoding cannot be had, and it writes
// nothing to stderr.
//
// Every reader class has a static `bool recognises(ImageFile const&)`, the
// signature test, and a constructor that takes the ImageFile to read.
//
// Decoding writes each row straight into the picture's own ARGB words
// (straight alpha, opaque where the format has none), never through a copy
// of the whole image, and lets the window paint between rows through
// background_task::yieldIfDue().
class ImageReader {
public:
    virtual ~ImageReader() = default;

    // The header, or false when the file is damaged or not of this format.
    virtual bool readHeader(ImageHeader& header) = 0;

    // Decodes the pixels into the picture, whose size is the header's
    // upright size. False when the data is damaged.
    virtual bool decode(Picture& picture) = 0;
};
