#include "runtime/imageformats/TargaReader.h"

#include "runtime/BackgroundTask.h"
#include "runtime/Picture.h"
#include "runtime/imageformats/ImageFile.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr std::size_t HeaderBytes = 18;
// An RLE packet holds at most 128 pixels.
constexpr std::uint64_t MostPixelsPerPacket = 128;

std::uint32_t little16(unsigned char const* bytes) { return bytes[0] | bytes[1] << 8; }

// Five bits widened to eight, the top bits repeated below.
std::uint32_t widen5(std::uint32_t value) { return value << 3 | value >> 2; }

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
    unsigned char head[HeaderBytes];
    if (!m_file.seek(0) || !m_file.readExactly(head, HeaderBytes))
        return false;
    unsigned const idBytes = head[0];
    unsigned const mapType = head[1];
    m_type = head[2];
    std::uint32_t const mapFirst = little16(&head[3]);
    std::uint32_t const mapLength = little16(&head[5]);
    unsigned const mapDepth = head[7];
    m_width = little16(&head[12]);
    m_height = little16(&head[14]);
    m_depth = head[16];
    m_alphaBits = head[17] & 15;
    m_rightToLeft = head[17] & 0x10;
    m_topDown = head[17] & 0x20;

    bool const colourMapped = m_type == 1 || m_type == 9;
    bool const grey = m_type == 3 || m_type == 11;
    bool const trueColour = m_type == 2 || m_type == 10;
    auto const colourDepth = [](unsigned depth) { return depth == 15 || depth == 16 || depth == 24 || depth == 32; };
    if (!colourMapped && !grey && !trueColour)
        return false;
    if (colourMapped && (mapType != 1 || m_depth != 8 || mapLength == 0 || !colourDepth(mapDepth)))
        return false;
    if ((grey && m_depth != 8 && m_depth != 16) || (trueColour && !colourDepth(m_depth)) || m_width == 0 || m_height == 0)
        return false;

    std::uint64_t const mapBytes = mapType == 1 ? std::uint64_t { mapLength } * ((mapDepth + 7) / 8) : 0;
    m_pixelsAt = HeaderBytes + idBytes + mapBytes;
    if (m_pixelsAt > m_file.size())
        return false;
    std::uint64_t const data = m_file.size() - m_pixelsAt;
    std::uint64_t const pixels = static_cast<std::uint64_t>(m_width) * static_cast<std::uint64_t>(m_height);
    std::uint64_t const pixelBytes = (m_depth + 7) / 8;
    bool const compressed = m_type >= 9;
    if (compressed ? (pixels + MostPixelsPerPacket - 1) / MostPixelsPerPacket * (1 + pixelBytes) > data : pixels * pixelBytes > data)
        return false;

    if (colourMapped) {
        std::vector<unsigned char> bytes(static_cast<std::size_t>(mapBytes));
        if (!m_file.seek(HeaderBytes + idBytes) || !m_file.readExactly(bytes.data(), bytes.size()))
            return false;
        // Indices below the map's first entry, or beyond its last, show black.
        m_map.assign(256, 0xFF000000u);
        for (std::uint32_t i = 0; i < mapLength && mapFirst + i < 256; ++i)
            m_map[mapFirst + i] = colourOf(&bytes[i * ((mapDepth + 7) / 8)], mapDepth, true);
    }
    header.width = m_width;
    header.height = m_height;
    return true;
}

// Colours are stored blue first; 16 bits are one bit of alpha (set for
// opaque) and five each of red, green and blue, 15 bits the same without
// alpha. 32 bits carry alpha in their fourth byte.
std::uint32_t TargaReader::colourOf(unsigned char const* bytes, unsigned depth, bool forMap) const
{
    switch (depth) {
    case 8:
        return 0xFF000000u | bytes[0] * 0x010101u;
    case 15:
    case 16: {
        std::uint32_t const word = little16(bytes);
        bool const clear = depth == 16 && m_alphaBits > 0 && !(word & 0x8000);
        return (clear ? 0u : 0xFF000000u) | widen5(word >> 10 & 31) << 16 | widen5(word >> 5 & 31) << 8 | widen5(word & 31);
    }
    case 24:
        return 0xFF000000u | std::uint32_t { bytes[2] } << 16 | std::uint32_t { bytes[1] } << 8 | bytes[0];
    default: {
        // Pixels whose descriptor gives alpha no bits leave the fourth byte
        // unused; colour maps always hold alpha there.
        std::uint32_t const alpha = forMap || m_alphaBits > 0 ? bytes[3] : 0xFF;
        return alpha << 24 | std::uint32_t { bytes[2] } << 16 | std::uint32_t { bytes[1] } << 8 | bytes[0];
    }
    }
}

namespace {

// The pixel data, read in pieces and handed out a pixel or a packet header
// at a time.
class PixelData {
public:
    explicit PixelData(ImageFile& file)
        : m_file(file)
        , m_buffer(std::make_unique<unsigned char[]>(Piece))
    {
    }

    // The next count bytes (at most 4), valid until the next call, or null
    // at the end of the file.
    unsigned char const* take(std::size_t count)
    {
        if (m_size - m_at >= count) {
            unsigned char const* const bytes = &m_buffer[m_at];
            m_at += count;
            return bytes;
        }
        return takeAcrossPieces(count);
    }

private:
    unsigned char const* takeAcrossPieces(std::size_t count)
    {
        std::size_t const have = m_size - m_at;
        std::memcpy(m_spare, &m_buffer[m_at], have);
        m_size = m_file.read(m_buffer.get(), Piece);
        m_at = std::min(count - have, m_size);
        if (m_size < count - have)
            return nullptr;
        std::memcpy(m_spare + have, m_buffer.get(), count - have);
        return m_spare;
    }

    static constexpr std::size_t Piece = 64 * 1024;
    ImageFile& m_file;
    std::unique_ptr<unsigned char[]> m_buffer;
    std::size_t m_at = 0;
    std::size_t m_size = 0;
    unsigned char m_spare[4] {};
};

struct RowLayout {
    std::int64_t width;
    std::int64_t height;
    bool topDown;
    bool rightToLeft;
    bool compressed;
    std::size_t pixelBytes;
};

// The pixels in the stored order, bottom-up unless the layout says
// top-down, each turned to its ARGB word by `shown`; a packet may run on
// into the next row.
template <class Shown>
bool decodeRows(PixelData& data, Picture& picture, RowLayout const& layout, Shown const& shown)
{
    std::uint32_t repeated = 0;
    std::uint32_t left = 0; // pixels left in the packet
    bool run = false;
    for (std::int64_t y = 0; y < layout.height; ++y) {
        std::uint32_t* const row = picture.row(static_cast<std::int32_t>(layout.topDown ? y : layout.height - 1 - y));
        for (std::int64_t x = 0; x < layout.width; ++x) {
            std::uint32_t colour = 0;
            if (!layout.compressed) {
                unsigned char const* const pixel = data.take(layout.pixelBytes);
                if (!pixel)
                    return false;
                colour = shown(pixel);
            } else {
                if (left == 0) {
                    unsigned char const* const packet = data.take(1);
                    if (!packet)
                        return false;
                    run = *packet & 0x80;
                    left = (*packet & 0x7Fu) + 1u;
                    if (run) {
                        unsigned char const* const pixel = data.take(layout.pixelBytes);
                        if (!pixel)
                            return false;
                        repeated = shown(pixel);
                    }
                }
                if (run) {
                    colour = repeated;
                } else {
                    unsigned char const* const pixel = data.take(layout.pixelBytes);
                    if (!pixel)
                        return false;
                    colour = shown(pixel);
                }
                --left;
            }
            row[layout.rightToLeft ? layout.width - 1 - x : x] = colour;
        }
        background_task::yieldIfDue();
    }
    return true;
}

}

// Colour-mapped pixels use the map, grey ones are their value, with alpha
// in a second byte at 16 bits; the others use their depth's layout. Each
// kind has a decoding loop of its own.
bool TargaReader::decode(Picture& picture)
{
    if (!m_file.seek(m_pixelsAt))
        return false;
    PixelData data(m_file);
    RowLayout const layout { m_width, m_height, m_topDown, m_rightToLeft, m_type >= 9, (m_depth + 7) / 8 };
    if (m_type == 1 || m_type == 9)
        return decodeRows(data, picture, layout, [this](unsigned char const* bytes) { return m_map[bytes[0]]; });
    if ((m_type == 3 || m_type == 11) && m_depth == 16)
        return decodeRows(data, picture, layout, [](unsigned char const* bytes) { return std::uint32_t { bytes[1] } << 24 | bytes[0] * 0x010101u; });
    if (m_type == 3 || m_type == 11)
        return decodeRows(data, picture, layout, [](unsigned char const* bytes) { return 0xFF000000u | bytes[0] * 0x010101u; });
    switch (m_depth) {
    case 24:
        return decodeRows(data, picture, layout, [this](unsigned char const* bytes) { return colourOf(bytes, 24, false); });
    case 32:
        return decodeRows(data, picture, layout, [this](unsigned char const* bytes) { return colourOf(bytes, 32, false); });
    default:
        return decodeRows(data, picture, layout, [this](unsigned char const* bytes) { return colourOf(bytes, m_depth, false); });
    }
}
