// PICT files open through the library's coder as before; damaged ones,
// those whose frame is empty or claims far more than the file holds among
// them, give Nil rather than a memory message. Regions larger than the frame
// are settled within the damaged files' memory bound, and the library
// writes nothing to the temporary folder and starts no threads.

#include "support/PictureFiles.h"
#include "support/TemporaryFolder.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace picture_files;

namespace {

// The frame follows the 512-byte header and the 2-byte size: top, left,
// bottom, right, two bytes each, most significant first.
QByteArray withFrame(QByteArray bytes, int top, int left, int bottom, int right)
{
    int const values[] { top, left, bottom, right };
    for (int i = 0; i < 4; ++i) {
        bytes[514 + 2 * i] = static_cast<char>(values[i] >> 8);
        bytes[515 + 2 * i] = static_cast<char>(values[i]);
    }
    return bytes;
}

// The fixture's clip region: opcode 0x0001 at 0x228, its size, then top,
// left, bottom, right; and the bounds of its pixel map at 0x23C.
constexpr qsizetype ClipAt = 0x22C;
constexpr qsizetype PixelMapBoundsAt = 0x23C;

QByteArray withRectangle(QByteArray bytes, qsizetype at, int bottom, int right)
{
    int const values[] { 0, 0, bottom, right };
    for (int i = 0; i < 4; ++i) {
        bytes[at + 2 * i] = static_cast<char>(values[i] >> 8);
        bytes[at + 2 * i + 1] = static_cast<char>(values[i]);
    }
    return bytes;
}

// The fixture with a long comment of the given size put before its clip
// region (at 0x228, after the header opcodes).
QByteArray withCommentBeforeClip(QByteArray const& bytes, int size)
{
    QByteArray comment("\x00\xA1\x00\x64", 4);
    comment += static_cast<char>(size >> 8);
    comment += static_cast<char>(size);
    comment += QByteArray(size + (size & 1), '\0');
    return bytes.left(0x228) + comment + bytes.mid(0x228);
}

TEST(PictReader, RegionsLargerThanTheFrameAreSettledWithinBounds)
{
    QTemporaryDir folder;
    QByteArray const whole = fixtureBytes("pattern.pct");
    ASSERT_TRUE(Picture::Open(writeFile(folder, "whole.pct", withCommentBeforeClip(whole, 5000))));

    // Clips that the reader sees before the library starts, one after a
    // comment that takes it beyond the first bytes, where only the
    // library's own limits hold, and pixel maps larger than the frame.
    std::vector<std::pair<String, QByteArray>> damaged;
    for (int side : { 16000, 32767 }) {
        String const size = std::to_string(side) + " x " + std::to_string(side);
        damaged.emplace_back("a clip of " + size, withRectangle(whole, ClipAt, side, side));
        damaged.emplace_back("a clip of " + size + " after a comment", withCommentBeforeClip(withRectangle(whole, ClipAt, side, side), 5000));
        damaged.emplace_back("a pixel map of " + size, withRectangle(whole, PixelMapBoundsAt, side, side));
    }
    damaged.emplace_back("a clip one row taller than the frame", withRectangle(whole, ClipAt, 4, 4));
    FreshTemporaryFolder const temporary;
    expectEachGivesNil(folder, "damaged.pct", damaged);
    EXPECT_TRUE(temporary.untouched());
}

int threadCount()
{
    return static_cast<int>(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// The library shares the work on a picture of this size among threads of
// its own when it may, and those would report its progress.
TEST(PictReader, TheLibraryWorksOnTheCallingThreadAlone)
{
    int const before = threadCount();
    EXPECT_TRUE(holds(Picture::Open(FolderItem::forPath(fixturePath("flat.pct"))), 256, 256, Pixels(256 * 256, 0xFFFF0000u)));
    EXPECT_EQ(threadCount(), before);
}

TEST(PictReader, DamagedFilesGiveNil)
{
    QTemporaryDir folder;
    QByteArray const whole = fixtureBytes("pattern.pct");
    ASSERT_TRUE(Picture::Open(writeFile(folder, "whole.pct", whole)));
    ASSERT_TRUE(Picture::Open(writeFile(folder, "whole.pct", withFrame(whole, 0, 0, 3, 4))));

    std::vector<std::pair<String, QByteArray>> damaged;
    addCuts(damaged, whole, "pattern", 2); // the closing opcode is not needed
    damaged.emplace_back("a frame of zero height", withFrame(whole, 0, 0, 0, 4));
    damaged.emplace_back("a frame of zero width", withFrame(whole, 0, 0, 3, 0));
    damaged.emplace_back("a frame turned inside out", withFrame(whole, 3, 4, 0, 0));
    damaged.emplace_back("a 16384 x 16384 frame", withFrame(whole, 0, 0, 16384, 16384));
    damaged.emplace_back("a 32767 x 32767 frame", withFrame(whole, 0, 0, 32767, 32767));
    expectEachGivesNil(folder, "damaged.pct", damaged);
}

}
