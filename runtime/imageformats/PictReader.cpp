#include "runtime/imageformats/PictReader.h"

#include "runtime/imageformats/ImageFile.h"
#include "runtime/imageformats/MagickDecoder.h"

#include <cstring>

namespace {

// The file's own header, then the picture's size (2 bytes) and frame (top,
// left, bottom, right, 2 bytes each), then the version opcode: 0x0011 0x02FF
// for version 2, 0x11 0x01 for version 1.
constexpr std::size_t HeaderBytes = 512;
constexpr std::size_t FrameAt = HeaderBytes + 2;
constexpr std::size_t VersionAt = HeaderBytes + 10;

// Files are read whole for the coder; none that holds an allowed picture
// comes near this.
constexpr std::uint64_t LargestFile = std::uint64_t { 1 } << 31;

// The pixels of a PICT file are packed in runs of at most 128 values of two
// bytes' cost; a frame of more pixels than this a byte of the file is taken
// for a damaged one, not made into a blank picture of that size.
constexpr std::uint64_t MostPixelsPerByte = 256;

int frameValue(std::span<unsigned char const> head, std::size_t at)
{
    return static_cast<std::int16_t>(head[at] << 8 | head[at + 1]);
}

bool hasVersionOpcode(std::span<unsigned char const> head)
{
    if (head.size() < VersionAt + 4)
        return false;
    unsigned char const* version = head.data() + VersionAt;
    return std::memcmp(version, "\x00\x11\x02\xFF", 4) == 0 || std::memcmp(version, "\x11\x01", 2) == 0;
}

}

bool PictReader::recognises(ImageFile const& file)
{
    String const extension = file.extension();
    return extension == "pict" || extension == "pic" || extension == "pct" || hasVersionOpcode(file.head());
}

PictReader::PictReader(ImageFile& file)
    : m_file(file)
{
}

PictReader::~PictReader() = default;

bool PictReader::readHeader(ImageHeader& header)
{
    auto const head = m_file.head();
    if (!hasVersionOpcode(head) || m_file.size() > LargestFile)
        return false;
    int const width = frameValue(head, FrameAt + 6) - frameValue(head, FrameAt + 2);
    int const height = frameValue(head, FrameAt + 4) - frameValue(head, FrameAt);
    if (width <= 0 || height <= 0 || static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > m_file.size() * MostPixelsPerByte)
        return false;
    header.width = width;
    header.height = height;
    header.workingBytes = magick_decoder::workingBytes(m_file, width, height);
    return true;
}

bool PictReader::decode(Picture& picture)
{
    return magick_decoder::decode("PICT", m_file, picture);
}
