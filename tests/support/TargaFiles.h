#pragma once

// Targa files of every type and depth, made byte by byte from known pixels.

#include "support/PictureFiles.h"

#include <random>

namespace picture_files::targa {

struct Targa {
    int type = 2; // 1 colour-mapped, 2 true-colour, 3 grey; 8 more for RLE
    int depth = 24; // of a pixel, or of a colour-map entry for type 1 and 9
    bool topDown = false;
    bool footer = true;
    int width = 11;
    int height = 6;
    unsigned seed = 0; // of the pixels; 0 for one by type and depth
};

inline bool colourMapped(Targa const& t) { return t.type == 1 || t.type == 9; }

// Five bits widen to eight with their top bits repeated below.
inline std::uint32_t five(std::uint32_t value) { return value << 3 | value >> 2; }

// A colour as stored at the depth, and the ARGB word it shows as.
struct Colour {
    std::uint32_t stored;
    std::uint32_t shown;
};

// Grey of 16 bits is a grey byte and an alpha byte.
inline Colour colourAt(int depth, bool grey, std::mt19937& random)
{
    std::uint32_t const word = static_cast<std::uint32_t>(random());
    if (grey && depth == 16)
        return { word & 0xFFFF, (word >> 8 & 0xFF) << 24 | (word & 0xFF) * 0x010101u };
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

inline void putColour(QByteArray& out, std::uint32_t stored, int depth)
{
    for (int b = 0; b < (depth + 7) / 8; ++b)
        out += static_cast<char>(stored >> (8 * b));
}

// The file, and the pixels that it shows in `expected`.
inline QByteArray encode(Targa const& t, Pixels& expected)
{
    std::mt19937 random(t.seed ? t.seed : static_cast<unsigned>(t.type * 100 + t.depth));
    bool const grey = t.type == 3 || t.type == 11;
    std::vector<Colour> map;
    if (colourMapped(t))
        for (int i = 0; i < 40; ++i)
            map.push_back(colourAt(t.depth, false, random));
    int const pixelDepth = colourMapped(t) ? 8 : t.depth;
    int const alphaBits = t.depth == 32 || (grey && t.depth == 16) ? 8 : t.depth == 16 ? 1 : 0;

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

}
