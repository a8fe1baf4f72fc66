#pragma once

// BMP files of every kind, made byte by byte from known pixels.

#include "support/PictureFiles.h"

#include <array>
#include <random>

namespace picture_files::bmp {

enum Compression : std::uint32_t { Plain = 0, Rle8 = 1, Rle4 = 2, BitFields = 3 };

struct Bmp {
    int depth = 24;
    Compression compression = Plain;
    std::uint32_t infoBytes = 40; // 12: the oldest header; 108 and 124 the newer ones
    bool topDown = false;
    std::array<std::uint32_t, 4> masks {}; // red, green, blue, alpha, for bit fields
    int width = 13;
    int height = 7;
    unsigned seed = 0; // of the pixels; 0 for one by depth and compression
};

class Bytes {
public:
    void u8(std::uint32_t v) { m_bytes.push_back(static_cast<char>(v)); }
    void u16(std::uint32_t v) { u8(v), u8(v >> 8); }
    void u32(std::uint32_t v) { u16(v), u16(v >> 16); }
    void pad4() { while (m_bytes.size() % 4) u8(0); }
    qsizetype size() const { return m_bytes.size(); }
    QByteArray& bytes() { return m_bytes; }

private:
    QByteArray m_bytes;
};

inline int maskShift(std::uint32_t mask) { return mask ? __builtin_ctz(mask) : 0; }
inline int maskBits(std::uint32_t mask) { return __builtin_popcount(mask); }

// What a field of `bits` bits shows as at 8 bits: scaled to the full range.
inline std::uint32_t eightBits(std::uint32_t value, int bits)
{
    std::uint32_t const maximum = (1u << bits) - 1;
    return (value * 255 + maximum / 2) / maximum;
}

struct Content {
    std::vector<std::uint32_t> palette; // ARGB, opaque
    std::vector<std::uint32_t> values; // palette indices, or packed pixel words
    Pixels expected;
};

inline Content contentOf(Bmp const& bmp)
{
    std::mt19937 random(bmp.seed ? bmp.seed : static_cast<unsigned>(bmp.depth * 7 + bmp.compression));
    Content content;
    int const count = bmp.width * bmp.height;
    if (bmp.depth <= 8) {
        for (int i = 0; i < (1 << bmp.depth); ++i)
            content.palette.push_back(0xFF000000u | (static_cast<std::uint32_t>(random()) & 0xFFFFFF));
        for (int i = 0; i < count; ++i) {
            // Runs of one index, so that the RLE forms have runs to code.
            std::uint32_t const index = static_cast<std::uint32_t>((i / 3) * 5 % (1 << bmp.depth));
            content.values.push_back(index);
            content.expected.push_back(content.palette[index]);
        }
        return content;
    }
    std::array<std::uint32_t, 4> masks = bmp.masks;
    if (bmp.compression == Plain)
        masks = bmp.depth == 16 ? std::array<std::uint32_t, 4> { 0x7C00, 0x03E0, 0x001F, 0 } : std::array<std::uint32_t, 4> { 0xFF0000, 0xFF00, 0xFF, 0 };
    for (int i = 0; i < count; ++i) {
        std::uint32_t word = static_cast<std::uint32_t>(random());
        if (bmp.depth == 16)
            word &= 0xFFFF;
        if (bmp.depth == 24)
            word &= 0xFFFFFF;
        if (bmp.depth == 32 && !masks[3])
            word &= 0xFFFFFF; // the unused byte is zero, as writers leave it
        content.values.push_back(word);
        std::uint32_t pixel = masks[3] ? eightBits((word & masks[3]) >> maskShift(masks[3]), maskBits(masks[3])) << 24 : 0xFF000000u;
        for (int c = 0; c < 3; ++c)
            pixel |= eightBits((word & masks[static_cast<std::size_t>(c)]) >> maskShift(masks[static_cast<std::size_t>(c)]), maskBits(masks[static_cast<std::size_t>(c)])) << (16 - 8 * c);
        content.expected.push_back(pixel);
    }
    return content;
}

// The rows, bottom-up unless top-down, coded as the compression says.
inline QByteArray pixelData(Bmp const& bmp, Content const& content)
{
    Bytes out;
    for (int i = 0; i < bmp.height; ++i) {
        int const y = bmp.topDown ? i : bmp.height - 1 - i;
        auto value = [&](int x) { return content.values[static_cast<std::size_t>(y * bmp.width + x)]; };
        if (bmp.compression == Rle8 || bmp.compression == Rle4) {
            for (int x = 0; x < bmp.width;) {
                int run = 1;
                while (x + run < bmp.width && run < 255 && value(x + run) == value(x))
                    ++run;
                out.u8(static_cast<std::uint32_t>(run));
                out.u8(bmp.compression == Rle8 ? value(x) : value(x) << 4 | value(x));
                x += run;
            }
            out.u16(0); // end of the row
            continue;
        }
        std::uint32_t bits = 0;
        int bitCount = 0;
        for (int x = 0; x < bmp.width; ++x) {
            if (bmp.depth < 8) {
                bits = bits << bmp.depth | value(x);
                bitCount += bmp.depth;
                if (bitCount == 8)
                    out.u8(bits), bits = 0, bitCount = 0;
            } else {
                for (int b = 0; b < bmp.depth; b += 8)
                    out.u8(value(x) >> b);
            }
        }
        if (bitCount)
            out.u8(bits << (8 - bitCount));
        out.pad4();
    }
    if (bmp.compression == Rle8 || bmp.compression == Rle4)
        out.u16(0x0100); // end of the picture
    return out.bytes();
}

inline QByteArray encode(Bmp const& bmp, Content const& content)
{
    QByteArray const pixels = pixelData(bmp, content);
    bool const fields = bmp.compression == BitFields;
    std::uint32_t const paletteBytes = static_cast<std::uint32_t>(content.palette.size()) * (bmp.infoBytes == 12 ? 3 : 4);
    std::uint32_t const maskBytes = fields && bmp.infoBytes == 40 ? 12 : 0;
    std::uint32_t const pixelsAt = 14 + bmp.infoBytes + maskBytes + paletteBytes;
    Bytes out;
    out.u8('B'), out.u8('M');
    out.u32(pixelsAt + static_cast<std::uint32_t>(pixels.size()));
    out.u32(0);
    out.u32(pixelsAt);
    out.u32(bmp.infoBytes);
    if (bmp.infoBytes == 12) {
        out.u16(static_cast<std::uint32_t>(bmp.width)), out.u16(static_cast<std::uint32_t>(bmp.height)), out.u16(1), out.u16(static_cast<std::uint32_t>(bmp.depth));
    } else {
        out.u32(static_cast<std::uint32_t>(bmp.width));
        out.u32(static_cast<std::uint32_t>(bmp.topDown ? -bmp.height : bmp.height));
        out.u16(1), out.u16(static_cast<std::uint32_t>(bmp.depth));
        out.u32(bmp.compression);
        out.u32(static_cast<std::uint32_t>(pixels.size()));
        out.u32(2835), out.u32(2835); // 72 dpi
        out.u32(static_cast<std::uint32_t>(content.palette.size())), out.u32(0);
        if (bmp.infoBytes >= 108) {
            for (std::uint32_t mask : bmp.masks)
                out.u32(mask);
            out.u32(0x73524742); // sRGB
            while (out.size() < 14 + bmp.infoBytes)
                out.u8(0);
        } else if (fields) {
            for (int c = 0; c < 3; ++c)
                out.u32(bmp.masks[static_cast<std::size_t>(c)]);
        }
    }
    for (std::uint32_t colour : content.palette) {
        out.u8(colour), out.u8(colour >> 8), out.u8(colour >> 16);
        if (bmp.infoBytes != 12)
            out.u8(0);
    }
    return out.bytes() + pixels;
}

}
