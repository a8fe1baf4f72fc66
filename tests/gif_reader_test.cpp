// GIF files written here with giflib open as their first frame, on the
// canvas, with the transparent colour clear; damaged ones give Nil.

#include "support/GifFiles.h"

#include <gtest/gtest.h>

using namespace picture_files;
using namespace picture_files::gif;

namespace {

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
