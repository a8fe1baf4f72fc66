#include "runtime/imageformats/BmpReader.h"

#include "runtime/BackgroundTask.h"
#include "runtime/Picture.h"
#include "runtime/imageformats/ImageFile.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <memory>

namespace {

constexpr std::size_t FileHeaderBytes = 14;

// An RLE run of two bytes gives at most 255 pixels; a file that claims more
// pixels than that for its bytes is damaged.
constexpr std::uint64_t MostRlePixelsPerByte = 128;

enum Compression : std::uint32_t { Plain = 0, Rle8 = 1, Rle4 = 2, BitFields = 3, AlphaBitFields = 6 };

std::uint32_t little16(unsigned char const* bytes) { return bytes[0] | bytes[1] << 8; }
std::uint32_t little32(unsigned char const* bytes) { return little16(bytes) | little16(bytes + 2) << 16; }

// A field of a pixel word scaled to 8 bits; a missing field gives `absent`.
std::uint32_t field(std::uint32_t word, std::uint32_t mask, std::uint32_t absent)
{
    if (mask == 0)
        return absent;
    std::uint64_t const maximum = mask >> std::countr_zero(mask);
    std::uint64_t const value = (word & mask) >> std::countr_zero(mask);
    return static_cast<std::uint32_t>((value * 255 + maximum / 2) / maximum);
}

// The file read in pieces, a byte at a time.
class ByteStream {
public:
    explicit ByteStream(ImageFile& file)
        : m_file(file)
    {
    }
    // False at the end of the file.
    bool next(std::uint32_t& byte)
    {
        if (m_at == m_size) {
            m_size = m_file.read(m_buffer, sizeof m_buffer);
            m_at = 0;
            if (m_size == 0)
                return false;
        }
        byte = m_buffer[m_at++];
        return true;
    }

private:
    ImageFile& m_file;
    unsigned char m_buffer[64 * 1024];
    std::size_t m_at = 0;
    std::size_t m_size = 0;
};

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
    m_pixelsAt = little32(head.data() + 10);
    std::uint32_t const infoBytes = little32(info);
    std::uint32_t paletteEntries = 0;
    if (infoBytes == 12) {
        m_width = little16(info + 4);
        m_height = little16(info + 6);
        m_depth = little16(info + 10);
    } else if (infoBytes >= 40 && infoBytes <= 124 && head.size() >= FileHeaderBytes + 40) {
        m_width = static_cast<std::int32_t>(little32(info + 4));
        auto const height = static_cast<std::int32_t>(little32(info + 8));
        m_topDown = height < 0;
        m_height = std::abs(static_cast<std::int64_t>(height));
        m_depth = little16(info + 14);
        m_compression = little32(info + 16);
        paletteEntries = little32(info + 32);
    } else {
        return false;
    }
    if (m_width <= 0 || m_height <= 0 || m_pixelsAt > m_file.size())
        return false;

    // Bit fields follow a short header, or stand in a longer one.
    if (m_compression == BitFields || m_compression == AlphaBitFields) {
        if (m_depth != 16 && m_depth != 32)
            return false;
        std::size_t const count = m_compression == AlphaBitFields || infoBytes >= 56 ? 4 : 3;
        if (head.size() < FileHeaderBytes + 40 + 4 * count)
            return false;
        for (std::size_t i = 0; i < count; ++i)
            m_masks[i] = little32(info + 40 + 4 * i);
        if (m_masks[0] == 0 || m_masks[1] == 0 || m_masks[2] == 0)
            return false;
    } else if (m_depth == 16) {
        m_masks = { 0x7C00, 0x03E0, 0x001F, 0 };
    } else if (m_depth == 24 || m_depth == 32) {
        m_masks = { 0xFF0000, 0xFF00, 0xFF, 0 }; // the fourth byte of 32 bits is unused
    }

    std::uint64_t const data = m_file.size() - m_pixelsAt;
    std::uint64_t const pixels = static_cast<std::uint64_t>(m_width) * static_cast<std::uint64_t>(m_height);
    switch (m_compression) {
    case Plain:
    case BitFields:
    case AlphaBitFields: {
        if (m_depth != 1 && m_depth != 2 && m_depth != 4 && m_depth != 8 && m_depth != 16 && m_depth != 24 && m_depth != 32)
            return false;
        // Rows are padded to four bytes; the last one may lack its padding.
        std::uint64_t const stride = (static_cast<std::uint64_t>(m_width) * m_depth + 31) / 32 * 4;
        if (stride * static_cast<std::uint64_t>(m_height - 1) + (static_cast<std::uint64_t>(m_width) * m_depth + 7) / 8 > data)
            return false;
        break;
    }
    case Rle8:
    case Rle4:
        if ((m_compression == Rle8 && m_depth != 8) || (m_compression == Rle4 && m_depth != 4) || m_topDown || pixels > data * MostRlePixelsPerByte)
            return false;
        break;
    default:
        return false;
    }
    if (m_depth <= 8) {
        std::uint32_t const entries = paletteEntries == 0 || paletteEntries > (1u << m_depth) ? 1u << m_depth : paletteEntries;
        if (!readPalette(static_cast<std::uint32_t>(FileHeaderBytes) + infoBytes, entries, infoBytes == 12 ? 3 : 4))
            return false;
    }
    header.width = m_width;
    header.height = m_height;
    return true;
}

// Entries of blue, green, red and, but in the oldest header, a spare byte.
// Indices beyond the palette show black.
bool BmpReader::readPalette(std::uint32_t at, std::uint32_t entries, std::uint32_t entryBytes)
{
    if (at + std::uint64_t { entries } * entryBytes > m_pixelsAt)
        return false;
    std::vector<unsigned char> bytes(std::size_t { entries } * entryBytes);
    if (!m_file.seek(at) || !m_file.readExactly(bytes.data(), bytes.size()))
        return false;
    m_palette.assign(std::size_t { 1 } << m_depth, 0xFF000000u);
    for (std::uint32_t i = 0; i < entries; ++i) {
        unsigned char const* entry = &bytes[std::size_t { i } * entryBytes];
        m_palette[i] = 0xFF000000u | std::uint32_t { entry[2] } << 16 | std::uint32_t { entry[1] } << 8 | entry[0];
    }
    return true;
}

bool BmpReader::decode(Picture& picture)
{
    if (!m_file.seek(m_pixelsAt))
        return false;
    return m_compression == Rle8 || m_compression == Rle4 ? decodeRunLengths(picture) : decodeRows(picture);
}

// Rows run bottom-up unless the height is negative.
std::uint32_t* BmpReader::rowOf(Picture& picture, std::int64_t fileRow) const
{
    return picture.row(static_cast<std::int32_t>(m_topDown ? fileRow : m_height - 1 - fileRow));
}

bool BmpReader::decodeRows(Picture& picture)
{
    std::size_t const rowBytes = (static_cast<std::size_t>(m_width) * m_depth + 7) / 8;
    std::size_t const stride = (static_cast<std::size_t>(m_width) * m_depth + 31) / 32 * 4;
    std::vector<unsigned char> bytes(stride);
    for (std::int64_t y = 0; y < m_height; ++y) {
        if (m_file.read(bytes.data(), stride) < rowBytes)
            return false;
        std::uint32_t* const row = rowOf(picture, y);
        for (std::int64_t x = 0; x < m_width; ++x) {
            if (m_depth <= 8) {
                std::size_t const bit = static_cast<std::size_t>(x) * m_depth;
                row[x] = m_palette[(bytes[bit / 8] >> (8 - m_depth - bit % 8)) & ((1u << m_depth) - 1)];
                continue;
            }
            unsigned char const* p = &bytes[static_cast<std::size_t>(x) * (m_depth / 8)];
            std::uint32_t const word = m_depth == 16 ? little16(p) : m_depth == 24 ? (little16(p) | std::uint32_t { p[2] } << 16) : little32(p);
            row[x] = field(word, m_masks[3], 255) << 24 | field(word, m_masks[0], 0) << 16 | field(word, m_masks[1], 0) << 8 | field(word, m_masks[2], 0);
        }
        background_task::yieldIfDue();
    }
    return true;
}

// Runs of one index or two alternating ones, literal stretches, jumps and
// ends of rows, up to the end of the picture. Pixels that a jump passes
// over stay clear. Data that stops, or marks its end, before the last row
// is damage: the header claims more rows than the data holds.
bool BmpReader::decodeRunLengths(Picture& picture)
{
    auto const stream = std::make_unique<ByteStream>(m_file);
    bool const four = m_compression == Rle4;
    std::int64_t x = 0, y = 0;
    auto put = [&](std::uint32_t index) {
        if (x < m_width && y < m_height)
            rowOf(picture, y)[x] = m_palette[index];
        ++x;
    };
    for (;;) {
        std::uint32_t count = 0, value = 0;
        if (!stream->next(count) || !stream->next(value))
            return false;
        if (count > 0) {
            for (std::uint32_t i = 0; i < count; ++i)
                put(four ? (i % 2 ? value & 15 : value >> 4) : value);
            continue;
        }
        if (value == 0) { // the end of a row
            x = 0;
            if (++y >= m_height)
                return true;
            background_task::yieldIfDue();
        } else if (value == 1) { // the end of the picture: no earlier than its last row
            return y >= m_height - 1;
        } else if (value == 2) { // a jump right and up
            std::uint32_t dx = 0, dy = 0;
            if (!stream->next(dx) || !stream->next(dy))
                return false;
            x += dx;
            y += dy;
            if (y >= m_height)
                return true;
        } else { // `value` indices as they are, padded to two bytes
            std::uint32_t const bytes = four ? (value + 1) / 2 : value;
            std::uint32_t byte = 0;
            for (std::uint32_t i = 0; i < value; ++i) {
                if ((!four || i % 2 == 0) && !stream->next(byte))
                    return false;
                put(four ? (i % 2 ? byte & 15 : byte >> 4) : byte);
            }
            if (bytes % 2 && !stream->next(byte))
                return false;
        }
    }
}
