#include "runtime/imageformats/BmpReader.h"

#include "runtime/imageformats/ImageFile.h"
#include "runtime/imageformats/MagickDecoder.h"

#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::size_t FileHeaderBytes = 14;

// An RLE run of two bytes gives at most 255 pixels; a file that claims more
// pixels than that for its bytes is damaged.
constexpr std::uint64_t MostRlePixelsPerByte = 128;

enum Compression : std::uint32_t { Plain = 0, Rle8 = 1, Rle4 = 2, BitFields = 3, AlphaBitFields = 6 };

std::uint32_t little16(unsigned char const* bytes) { return bytes[0] | bytes[1] << 8; }
std::uint32_t little32(unsigned char const* bytes) { return little16(bytes) | little16(bytes + 2) << 16; }

}

bool BmpReader::recognises(ImageFile const& file)
{
    auto const head = file.head();
    return head.size() >= 2 && head[0] == 'B' && head[1] == 'M';
}

BmpReader::BmpReader(ImageFile& file)
    : m_file(file)
{
}

BmpReader::~BmpReader() = default;

bool BmpReader::readHeader(ImageHeader& header)
{
    auto const head = m_file.head();
    if (head.size() < FileHeaderBytes + 12)
        return false;
    unsigned char const* const info = head.data() + FileHeaderBytes;
    std::uint32_t const pixelsAt = little32(head.data() + 10);
    std::uint32_t const infoBytes = little32(info);
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t depth = 0;
    std::uint32_t compression = Plain;
    if (infoBytes == 12) {
        width = little16(info + 4);
        height = little16(info + 6);
        depth = little16(info + 10);
    } else if (infoBytes >= 40 && infoBytes <= 124 && head.size() >= FileHeaderBytes + 40) {
        width = static_cast<std::int32_t>(little32(info + 4));
        height = std::abs(static_cast<std::int64_t>(static_cast<std::int32_t>(little32(info + 8))));
        depth = little16(info + 14);
        compression = little32(info + 16);
    } else {
        return false;
    }
    if (width <= 0 || height <= 0 || pixelsAt < FileHeaderBytes + infoBytes || pixelsAt > m_file.size())
        return false;

    std::uint64_t const data = m_file.size() - pixelsAt;
    std::uint64_t const pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    switch (compression) {
    case Plain:
    case BitFields:
    case AlphaBitFields: {
        if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32)
            return false;
        // Rows are padded to four bytes; the last one may lack its padding.
        std::uint64_t const stride = (static_cast<std::uint64_t>(width) * depth + 31) / 32 * 4;
        if (stride * static_cast<std::uint64_t>(height - 1) + (static_cast<std::uint64_t>(width) * depth + 7) / 8 > data)
            return false;
        break;
    }
    case Rle8:
    case Rle4:
        if ((compression == Rle8 && depth != 8) || (compression == Rle4 && depth != 4) || pixels > data * MostRlePixelsPerByte)
            return false;
        break;
    default:
        return false;
    }
    header.width = width;
    header.height = height;
    header.workingBytes = magick_decoder::workingBytes(m_file, width, height);
    return true;
}

bool BmpReader::decode(Picture& picture)
{
    return magick_decoder::decode("BMP", m_file, picture);
}
