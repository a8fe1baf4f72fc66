// GIF files written here with giflib open as their first frame, on the
// canvas, with the transparent colour clear; damaged ones give Nil.

#include "support/PictureFiles.h"

#include <gif_lib.h>

#include <gtest/gtest.h>

#include <random>

using namespace picture_files;

namespace {

struct Gif {
    int screenWidth = 23;
    int screenHeight = 17;
    int left = 0, top = 0, width = 23, height = 17;
    bool interlaced = false;
    int transparent = -1;
    bool localColours = false;
    bool secondFrame = false;
};

std::uint32_t colourOf(int index, bool local)
{
    auto const i = static_cast<std::uint32_t>(index);
    return local ? 0xFF000000u | (255 - i) << 16 | (i * 7 & 0xFF) << 8 | i : 0xFF000000u | i << 16 | (255 - i) << 8 | (i * 3 & 0xFF);
}

ColorMapObject* paletteOf(bool local)
{
    ColorMapObject* map = GifMakeMapObject(256, nullptr);
    for (int i = 0; i < 256; ++i) {
        std::uint32_t const colour = colourOf(i, local);
        map->Colors[i] = GifColorType { static_cast<GifByteType>(colour >> 16), static_cast<GifByteType>(colour >> 8), static_cast<GifByteType>(colour) };
    }
    return map;
}

int appendBytes(GifFileType* gif, GifByteType const* data, int size)
{
    static_cast<std::vector<unsigned char>*>(gif->UserData)->insert(static_cast<std::vector<unsigned char>*>(gif->UserData)->end(), data, data + size);
    return size;
}

std::vector<GifPixelType> indicesOf(Gif const& gif)
{
    std::mt19937 random(static_cast<unsigned>(gif.width * 31 + gif.height));
    std::vector<GifPixelType> indices(static_cast<std::size_t>(gif.width * gif.height));
    for (GifPixelType& index : indices)
        index = static_cast<GifPixelType>(random() % 40);
    if (gif.transparent >= 0)
        indices[0] = static_cast<GifPixelType>(gif.transparent);
    return indices;
}

QByteArray encode(Gif const& gif)
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
Pixels expectedOf(Gif const& gif)
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

TEST(GifReader, TheFirstFrameOpensOnItsCanvas)
{
    struct Case {
        char const* name;
        Gif gif;
    } const cases[] = {
        { "one frame", {} },
        { "a transparent colour", { .transparent = 5 } },
        { "interlaced", { .interlaced = true } },
        { "a palette of its own", { .localColours = true } },
        { "a frame inside the canvas", { .screenWidth = 30, .screenHeight = 25, .left = 4, .top = 6, .width = 20, .height = 13 } },
        { "two frames", { .transparent = 2, .secondFrame = true } },
    };
    QTemporaryDir folder;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        Ref<Picture> picture = Picture::Open(writeFile(folder, "kind.gif", encode(c.gif)));
        EXPECT_TRUE(holds(picture, c.gif.screenWidth, c.gif.screenHeight, expectedOf(c.gif)));
    }
}

TEST(GifReader, DamagedFilesGiveNil)
{
    QTemporaryDir folder;
    QByteArray const plain = encode({});
    QByteArray const interlaced = encode({ .interlaced = true, .transparent = 3 });
    ASSERT_TRUE(Picture::Open(writeFile(folder, "whole.gif", plain)));

    // The screen's size is at 6; the frame's descriptor follows the global
    // palette of 256 entries, its size 5 bytes after its start.
    qsizetype const frameSize = 13 + 256 * 3 + 5;
    ASSERT_EQ(plain[frameSize - 5], ',');
    std::vector<std::pair<String, QByteArray>> damaged;
    addCuts(damaged, plain, "plain", 1); // the closing byte is not needed
    addCuts(damaged, interlaced, "interlaced", 1);
    damaged.emplace_back("a 16384 x 16384 canvas claimed", withLittle16(withLittle16(plain, 6, 16384), 8, 16384));
    damaged.emplace_back("a 16384 x 16384 frame claimed", withLittle16(withLittle16(withLittle16(withLittle16(plain, 6, 16384), 8, 16384), frameSize, 16384), frameSize + 2, 16384));
    damaged.emplace_back("a frame twice as high claimed", withLittle16(plain, frameSize + 2, 34));
    damaged.emplace_back("a frame of zero width", withLittle16(plain, frameSize, 0));
    damaged.emplace_back("a frame of zero height", withLittle16(plain, frameSize + 2, 0));
    expectEachGivesNil(folder, "damaged.gif", damaged);
}

}
