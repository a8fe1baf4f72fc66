// PICT files open through the library's coder as before; damaged ones,
// those whose frame is empty or claims far more than the file holds among
// them, give Nil rather than a memory message.

#include "support/PictureFiles.h"

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
