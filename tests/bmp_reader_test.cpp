// BMP files of every kind that common tools write, made here byte by byte
// from known pixels, open as those pixels; damaged ones give Nil.

#include "support/PictureFiles.h"

#include <gtest/gtest.h>

#include <random>

using namespace picture_files;

namespace {

enum Compression : std::uint32_t { Plain = 0, Rle8 = 1, Rle4 = 2, BitFields = 3 };

struct Bmp {
    int depth = 24;
    Compression compression = Plain;
    std::uint32_t infoBytes = 40; // 12: the oldest header; 108 and 124 the newer ones
    bool topDown = false;
    std::array<std::uint32_t, 4> masks {}; // red, green, blue, alpha, for bit fields
    int width = 13;
    int height = 7;
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

int maskShift(std::uint32_t mask) { return mask ? __builtin_ctz(mask) : 0; }
int maskBits(std::uint32_t mask) { return __builtin_popcount(mask); }

// What a field of `bits` bits shows as at 8 bits: scaled to the full range.
std::uint32_t eightBits(std::uint32_t value, int bits)
{
    std::uint32_t const maximum = (1u << bits) - 1;
    return (value * 255 + maximum / 2) / maximum;
}

struct Content {
    std::vector<std::uint32_t> palette; // ARGB, opaque
    std::vector<std::uint32_t> values; // palette indices, or packed pixel words
    Pixels expected;
};

Content contentOf(Bmp const& bmp)
{
    std::mt19937 random(static_cast<unsigned>(bmp.depth * 7 + bmp.compression));
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
QByteArray pixelData(Bmp const& bmp, Content const& content)
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

QByteArray encode(Bmp const& bmp, Content const& content)
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

TEST(BmpReader, EveryKindOpensAsWritten)
{
    struct Case {
        char const* name;
        Bmp bmp;
    } const cases[] = {
        { "1 bit", { .depth = 1 } },
        { "4 bits", { .depth = 4 } },
        { "8 bits", { .depth = 8 } },
        { "8 bits, the oldest header", { .depth = 8, .infoBytes = 12 } },
        { "RLE4", { .depth = 4, .compression = Rle4 } },
        { "RLE8", { .depth = 8, .compression = Rle8 } },
        { "16 bits, 5 each", { .depth = 16 } },
        { "16 bits, fields 5-6-5", { .depth = 16, .compression = BitFields, .masks = { 0xF800, 0x07E0, 0x001F, 0 } } },
        { "24 bits", {} },
        { "24 bits, top-down", { .topDown = true } },
        { "32 bits, the fourth byte unused", { .depth = 32 } },
        { "32 bits, fields", { .depth = 32, .compression = BitFields, .masks = { 0xFF0000, 0xFF00, 0xFF, 0 } } },
        { "32 bits, fields with alpha, version 4 header", { .depth = 32, .compression = BitFields, .infoBytes = 108, .masks = { 0xFF0000, 0xFF00, 0xFF, 0xFF000000 } } },
        { "32 bits, fields with alpha, version 5 header, top-down", { .depth = 32, .compression = BitFields, .infoBytes = 124, .topDown = true, .masks = { 0xFF0000, 0xFF00, 0xFF, 0xFF000000 } } },
    };
    QTemporaryDir folder;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        Content const content = contentOf(c.bmp);
        Ref<Picture> picture = Picture::Open(writeFile(folder, "kind.bmp", encode(c.bmp, content)));
        EXPECT_TRUE(holds(picture, c.bmp.width, c.bmp.height, content.expected));
    }
}

QByteArray withLittle32(QByteArray bytes, qsizetype at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

TEST(BmpReader, DamagedFilesGiveNil)
{
    QTemporaryDir folder;
    Bmp const plain {};
    Bmp const rle { .depth = 8, .compression = Rle8 };
    QByteArray const plainBytes = encode(plain, contentOf(plain));
    QByteArray const rleBytes = encode(rle, contentOf(rle));
    ASSERT_TRUE(Picture::Open(writeFile(folder, "whole.bmp", plainBytes)));

    std::vector<std::pair<String, QByteArray>> damaged;
    addCuts(damaged, plainBytes, "24 bits", 3); // the last row's padding is not needed
    addCuts(damaged, rleBytes, "RLE8");
    for (QByteArray const* bytes : { &plainBytes, &rleBytes }) {
        damaged.emplace_back("16384 x 16384 claimed", withLittle32(withLittle32(*bytes, 18, 16384), 22, 16384));
        damaged.emplace_back("zero width", withLittle32(*bytes, 18, 0));
        damaged.emplace_back("zero height", withLittle32(*bytes, 22, 0));
        damaged.emplace_back("twice as high claimed", withLittle32(*bytes, 22, 14));
        damaged.emplace_back("pixels beyond the end", withLittle32(*bytes, 10, static_cast<std::uint32_t>(bytes->size() + 10)));
    }
    expectEachGivesNil(folder, "damaged.bmp", damaged);
}

}
