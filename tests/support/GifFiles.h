#pragma once

// GIF files written with giflib: frames of known indices into known palettes.

#include "support/PictureFiles.h"

#include <gif_lib.h>

#include <random>
#include <utility>

namespace picture_files::gif {

struct Gif {
    int screenWidth = 23;
    int screenHeight = 17;
    int left = 0, top = 0, width = 23, height = 17;
    bool interlaced = false;
    int transparent = -1;
    bool localColours = false;
    bool secondFrame = false;
    unsigned seed = 0; // of the indices; 0 for one by size
    int colours = 40; // the indices used, from 0
};

inline std::uint32_t colourOf(int index, bool local)
{
    auto const i = static_cast<std::uint32_t>(index);
    return local ? 0xFF000000u | (255 - i) << 16 | (i * 7 & 0xFF) << 8 | i : 0xFF000000u | i << 16 | (255 - i) << 8 | (i * 3 & 0xFF);
}

inline ColorMapObject* paletteOf(bool local)
{
    ColorMapObject* map = GifMakeMapObject(256, nullptr);
    for (int i = 0; i < 256; ++i) {
        std::uint32_t const colour = colourOf(i, local);
        map->Colors[i] = GifColorType { static_cast<GifByteType>(colour >> 16), static_cast<GifByteType>(colour >> 8), static_cast<GifByteType>(colour) };
    }
    return map;
}

inline int appendBytes(GifFileType* gif, GifByteType const* data, int size)
{
    static_cast<std::vector<unsigned char>*>(gif->UserData)->insert(static_cast<std::vector<unsigned char>*>(gif->UserData)->end(), data, data + size);
    return size;
}

inline std::vector<GifPixelType> indicesOf(Gif const& gif)
{
    std::mt19937 random(gif.seed ? gif.seed : static_cast<unsigned>(gif.width * 31 + gif.height));
    std::vector<GifPixelType> indices(static_cast<std::size_t>(gif.width * gif.height));
    for (GifPixelType& index : indices)
        index = static_cast<GifPixelType>(random() % static_cast<unsigned>(gif.colours));
    if (gif.transparent >= 0)
        indices[0] = static_cast<GifPixelType>(gif.transparent);
    return indices;
}

inline QByteArray encode(Gif const& gif)
{
    std::vector<unsigned char> out;
    int error = 0;
    GifFileType* file = EGifOpen(&out, appendBytes, &error);
    EGifSetGifVersion(file, true);
    ColorMapObject* global = paletteOf(false);
    EGifPutScreenDesc(file, gif.screenWidth, gif.screenHeight, 8, 0, global);
    auto frame = [&](Gif const& g, std::vector<GifPixelType> const& indices) {
        if (g.transparent >= 0) {
            GifByteType const control[4] { 1, 0, 0, static_cast<GifByteType>(g.transparent) };
            EGifPutExtension(file, GRAPHICS_EXT_FUNC_CODE, 4, control);
        }
        ColorMapObject* local = g.localColours ? paletteOf(true) : nullptr;
        EGifPutImageDesc(file, g.left, g.top, g.width, g.height, g.interlaced, local);
        std::vector<int> order;
        if (g.interlaced) {
            for (auto [first, step] : { std::pair { 0, 8 }, { 4, 8 }, { 2, 4 }, { 1, 2 } })
                for (int y = first; y < g.height; y += step)
                    order.push_back(y);
        } else {
            for (int y = 0; y < g.height; ++y)
                order.push_back(y);
        }
        for (int y : order)
            EGifPutLine(file, const_cast<GifPixelType*>(indices.data()) + y * g.width, g.width);
        if (local)
            GifFreeMapObject(local);
    };
    frame(gif, indicesOf(gif));
    if (gif.secondFrame) {
        Gif second = gif;
        second.transparent = -1;
        frame(second, std::vector<GifPixelType>(static_cast<std::size_t>(gif.width * gif.height), 39));
    }
    EGifCloseFile(file, &error);
    GifFreeMapObject(global);
    return bytesOf(out);
}

// The canvas: clear outside the frame, the frame's colours within it.
inline Pixels expectedOf(Gif const& gif)
{
    Pixels pixels(static_cast<std::size_t>(gif.screenWidth * gif.screenHeight), 0);
    std::vector<GifPixelType> const indices = indicesOf(gif);
    for (int y = 0; y < gif.height; ++y) {
        for (int x = 0; x < gif.width; ++x) {
            int const index = indices[static_cast<std::size_t>(y * gif.width + x)];
            std::uint32_t colour = colourOf(index, gif.localColours);
            if (index == gif.transparent)
                colour &= 0x00FFFFFFu;
            pixels[static_cast<std::size_t>((gif.top + y) * gif.screenWidth + gif.left + x)] = colour;
        }
    }
    return pixels;
}

}
