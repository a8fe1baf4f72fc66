// Targa files of every type and depth, made here byte by byte from known
// pixels, open as those pixels; damaged ones give Nil.

#include "support/PictureFiles.h"

#include <gtest/gtest.h>

#include <random>

using namespace picture_files;

namespace {

struct Targa {
    int type = 2; // 1 colour-mapped, 2 true-colour, 3 grey; 8 more for RLE
    int depth = 24; // of a pixel, or of a colour-map entry for type 1 and 9
    bool topDown = false;
    bool footer = true;
    int width = 11;
    int height = 6;
};

bool colourMapped(Targa const& t) { return t.type == 1 || t.type == 9; }

// Five bits widen to eight with their top bits repeated below.
std::uint32_t five(std::uint32_t value) { return value << 3 | value >> 2; }

// A colour as stored at the depth, and the ARGB word it shows as.
struct Colour {
    std::uint32_t stored;
    std::uint32_t shown;
};

Colour colourAt(int depth, bool grey, std::mt19937& random)
{
    std::uint32_t const word = static_cast<std::uint32_t>(random());
    if (grey)
        return { word & 0xFF, 0xFF000000u | (word & 0xFF) * 0x010101u };
    if (depth == 15 || depth == 16) {
        std::uint32_t const stored = word & (depth == 16 ? 0xFFFF : 0x7FFF);
        std::uint32_t const alpha = depth == 16 && !(stored & 0x8000) ? 0 : 0xFF;
        return { stored, alpha << 24 | five(stored >> 10 & 31) << 16 | five(stored >> 5 & 31) << 8 | five(stored & 31) };
    }
    if (depth == 24)
        return { word & 0xFFFFFF, 0xFF000000u | (word & 0xFFFFFF) };
    return { word, word };
}

void putColour(QByteArray& out, std::uint32_t stored, int depth)
{
    for (int b = 0; b < (depth + 7) / 8; ++b)
        out += static_cast<char>(stored >> (8 * b));
}

QByteArray encode(Targa const& t, Pixels& expected)
{
    std::mt19937 random(static_cast<unsigned>(t.type * 100 + t.depth));
    bool const grey = t.type == 3 || t.type == 11;
    std::vector<Colour> map;
    if (colourMapped(t))
        for (int i = 0; i < 40; ++i)
            map.push_back(colourAt(t.depth, false, random));
    int const pixelDepth = colourMapped(t) || grey ? 8 : t.depth;
    int const alphaBits = t.depth == 32 ? 8 : t.depth == 16 ? 1 : 0;

    QByteArray out;
    char const id[] = "made here";
    out += static_cast<char>(sizeof id - 1);
    out += static_cast<char>(colourMapped(t) ? 1 : 0);
    out += static_cast<char>(t.type);
    putColour(out, 0, 16); // the first entry of the map
    putColour(out, static_cast<std::uint32_t>(map.size()), 16);
    out += static_cast<char>(colourMapped(t) ? t.depth : 0);
    putColour(out, 0, 16), putColour(out, 0, 16); // the origin
    putColour(out, static_cast<std::uint32_t>(t.width), 16), putColour(out, static_cast<std::uint32_t>(t.height), 16);
    out += static_cast<char>(pixelDepth);
    out += static_cast<char>(alphaBits | (t.topDown ? 0x20 : 0));
    out += QByteArray(id, sizeof id - 1);
    for (Colour const& colour : map)
        putColour(out, colour.stored, t.depth);

    // Pixels in the stored order, every fifth one repeating the one before,
    // so that the RLE types have runs to code.
    std::vector<std::uint32_t> stored;
    std::vector<std::uint32_t> shown;
    for (int i = 0; i < t.width * t.height; ++i) {
        if (i % 5 == 1) {
            stored.push_back(stored.back());
            shown.push_back(shown.back());
        } else if (colourMapped(t)) {
            auto const index = static_cast<std::uint32_t>(random() % map.size());
            stored.push_back(index);
            shown.push_back(map[index].shown);
        } else {
            Colour const colour = colourAt(t.depth, grey, random);
            stored.push_back(colour.stored);
            shown.push_back(colour.shown);
        }
    }
    // Rows are stored bottom-up unless the descriptor says top-down.
    expected.assign(shown.size(), 0);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        int const y = static_cast<int>(i) / t.width;
        int const row = t.topDown ? y : t.height - 1 - y;
        expected[static_cast<std::size_t>(row * t.width) + i % static_cast<std::size_t>(t.width)] = shown[i];
    }
    if (t.type < 9) {
        for (std::uint32_t value : stored)
            putColour(out, value, pixelDepth);
    } else {
        // Run packets for repeated pixels, raw packets for the others.
        for (std::size_t i = 0; i < stored.size();) {
            std::size_t run = 1;
            while (i + run < stored.size() && run < 128 && stored[i + run] == stored[i])
                ++run;
            if (run >= 2) {
                out += static_cast<char>(0x80 | (run - 1));
                putColour(out, stored[i], pixelDepth);
                i += run;
                continue;
            }
            std::size_t raw = 1;
            while (i + raw < stored.size() && raw < 128 && (i + raw + 1 >= stored.size() || stored[i + raw + 1] != stored[i + raw]))
                ++raw;
            out += static_cast<char>(raw - 1);
            for (std::size_t j = 0; j < raw; ++j)
                putColour(out, stored[i + j], pixelDepth);
            i += raw;
        }
    }
    if (t.footer)
        out += QByteArray("\0\0\0\0\0\0\0\0TRUEVISION-XFILE.\0", 26);
    return out;
}

TEST(TargaReader, EveryTypeAndDepthOpensAsWritten)
{
    struct Case {
        char const* name;
        Targa targa;
    } const cases[] = {
        { "type 1, a map of 24 bits", { .type = 1, .depth = 24 } },
        { "type 1, a map of 32 bits", { .type = 1, .depth = 32 } },
        { "type 1, a map of 15 bits", { .type = 1, .depth = 15 } },
        { "type 2, 15 bits", { .type = 2, .depth = 15 } },
        { "type 2, 16 bits", { .type = 2, .depth = 16 } },
        { "type 2, 24 bits", { .type = 2, .depth = 24 } },
        { "type 2, 32 bits", { .type = 2, .depth = 32 } },
        { "type 2, 32 bits, top-down", { .type = 2, .depth = 32, .topDown = true } },
        { "type 2, 24 bits, no footer", { .type = 2, .depth = 24, .footer = false } },
        { "type 3, grey", { .type = 3, .depth = 8 } },
        { "type 9, a map of 24 bits", { .type = 9, .depth = 24 } },
        { "type 10, 16 bits", { .type = 10, .depth = 16 } },
        { "type 10, 24 bits", { .type = 10, .depth = 24 } },
        { "type 10, 32 bits, top-down, no footer", { .type = 10, .depth = 32, .topDown = true, .footer = false } },
        { "type 11, grey", { .type = 11, .depth = 8 } },
    };
    QTemporaryDir folder;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        Pixels expected;
        QByteArray const bytes = encode(c.targa, expected);
        Ref<Picture> picture = Picture::Open(writeFile(folder, "kind.tga", bytes));
        EXPECT_TRUE(holds(picture, c.targa.width, c.targa.height, expected));
    }
}

TEST(TargaReader, DamagedFilesGiveNil)
{
    QTemporaryDir folder;
    Pixels ignored;
    QByteArray const plain = encode({ .footer = false }, ignored);
    QByteArray const rle = encode({ .type = 10, .depth = 32, .footer = false }, ignored);
    QByteArray const mapped = encode({ .type = 9, .depth = 24, .footer = false }, ignored);
    ASSERT_TRUE(Picture::Open(writeFile(folder, "whole.tga", rle)));

    std::vector<std::pair<String, QByteArray>> damaged;
    addCuts(damaged, plain, "type 2");
    addCuts(damaged, rle, "type 10");
    addCuts(damaged, mapped, "type 9");
    for (QByteArray const* bytes : { &plain, &rle, &mapped }) {
        damaged.emplace_back("16384 x 16384 claimed", withLittle16(withLittle16(*bytes, 12, 16384), 14, 16384));
        damaged.emplace_back("65535 x 65535 claimed", withLittle16(withLittle16(*bytes, 12, 65535), 14, 65535));
        damaged.emplace_back("twice as high claimed", withLittle16(*bytes, 14, 12));
        damaged.emplace_back("zero width", withLittle16(*bytes, 12, 0));
        damaged.emplace_back("zero height", withLittle16(*bytes, 14, 0));
    }
    damaged.emplace_back("a colour map longer than the file", withLittle16(mapped, 5, 30000));
    expectEachGivesNil(folder, "damaged.tga", damaged);
}

}
