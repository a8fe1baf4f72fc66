#include "runtime/imageformats/TargaReader.h"

#include "runtime/imageformats/ImageFile.h"
#include "runtime/imageformats/MagickDecoder.h"

#include <cstdint>

namespace {

constexpr std::size_t HeaderBytes = 18;
// An RLE packet holds at most 128 pixels.
constexpr std::uint64_t MostPixelsPerPacket = 128;

std::uint32_t little16(unsigned char const* bytes) { return bytes[0] | bytes[1] << 8; }

}

bool TargaReader::recognises(ImageFile const& file)
{
    String const extension = file.extension();
    return extension == "tga" || extension == "targa";
}

TargaReader::TargaReader(ImageFile& file)
    : m_file(file)
{
}

TargaReader::~TargaReader() = default;

bool TargaReader::readHeader(ImageHeader& header)
{
    auto const head = m_file.head();
    if (head.size() < HeaderBytes)
        return false;
    unsigned const idBytes = head[0];
    unsigned const mapType = head[1];
    unsigned const type = head[2];
    std::uint32_t const mapLength = little16(&head[5]);
    unsigned const mapDepth = head[7];
    std::int64_t const width = little16(&head[12]);
    std::int64_t const height = little16(&head[14]);
    unsigned const depth = head[16];

    bool const colourMapped = type == 1 || type == 9;
    bool const grey = type == 3 || type == 11;
    bool const trueColour = type == 2 || type == 10;
    if (!colourMapped && !grey && !trueColour)
        return false;
    if (colourMapped && (mapType != 1 || depth != 8 || mapLength == 0 || (mapDepth != 15 && mapDepth != 16 && mapDepth != 24 && mapDepth != 32)))
        return false;
    if (grey && depth != 8 && depth != 16)
        return false;
    if (trueColour && depth != 15 && depth != 16 && depth != 24 && depth != 32)
        return false;
    if (width == 0 || height == 0)
        return false;

    std::uint64_t const mapBytes = mapType == 1 ? std::uint64_t { mapLength } * ((mapDepth + 7) / 8) : 0;
    std::uint64_t const dataAt = HeaderBytes + idBytes + mapBytes;
    if (dataAt > m_file.size())
        return false;
    std::uint64_t const data = m_file.size() - dataAt;
    std::uint64_t const pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    std::uint64_t const pixelBytes = (depth + 7) / 8;
    bool const compressed = type >= 9;
    if (compressed ? (pixels + MostPixelsPerPacket - 1) / MostPixelsPerPacket * (1 + pixelBytes) > data : pixels * pixelBytes > data)
        return false;
    header.width = width;
    header.height = height;
    header.workingBytes = magick_decoder::workingBytes(m_file, width, height);
    return true;
}

bool TargaReader::decode(Picture& picture)
{
    return magick_decoder::decode("TGA", m_file, picture);
}
