// Targa files of every type and depth, made here byte by byte from known
// pixels, open as those pixels; damaged ones give Nil.

#include "support/TargaFiles.h"

#include <gtest/gtest.h>

using namespace picture_files;
using namespace picture_files::targa;

namespace {

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
        { "type 3, grey with alpha", { .type = 3, .depth = 16 } },
        { "type 9, a map of 24 bits", { .type = 9, .depth = 24 } },
        { "type 10, 16 bits", { .type = 10, .depth = 16 } },
        { "type 10, 24 bits", { .type = 10, .depth = 24 } },
        { "type 10, 32 bits, top-down, no footer", { .type = 10, .depth = 32, .topDown = true, .footer = false } },
        { "type 11, grey", { .type = 11, .depth = 8 } },
        { "type 11, grey with alpha, top-down", { .type = 11, .depth = 16, .topDown = true } },
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

TEST(TargaReader, OpensWhateverItsBytesAtThePictVersionOffsetHold)
{
    // Targa and PICT have no firm signature: a Targa whose pixels hold a
    // PICT version opcode where a PICT has one opens as the Targa, by its
    // name, or after the PICT reader gave up on it; a PICT named as a Targa
    // opens as the PICT.
    QTemporaryDir folder;
    Targa const grey { .type = 3, .depth = 8, .topDown = true, .footer = false, .width = 40, .height = 20 };
    Pixels expected;
    QByteArray bytes = encode(grey, expected);
    qsizetype const pixelsAt = 18 + static_cast<unsigned char>(bytes[0]);
    char const opcode[] { 0x00, 0x11, 0x02, static_cast<char>(0xFF) };
    for (qsizetype i = 0; i < 4; ++i) {
        bytes[522 + i] = opcode[i];
        expected[static_cast<std::size_t>(522 + i - pixelsAt)] = 0xFF000000u | static_cast<std::uint32_t>(static_cast<unsigned char>(opcode[i])) * 0x010101u;
    }
    for (char const* name : { "opcode.tga", "opcode.pict", "opcode.png" }) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(holds(Picture::Open(writeFile(folder, name, bytes)), grey.width, grey.height, expected));
    }
    Ref<Picture> pict = Picture::Open(writeFile(folder, "pict.tga", fixtureBytes("pattern.pct")));
    ASSERT_TRUE(pict);
    EXPECT_EQ(pict->Width(), 4);

    // Also when the PICT's free leading bytes read as a grey Targa too wide
    // to open, with bytes enough after the PICT's end for its pixels: that
    // refusal stands only if the PICT reader cannot read the file.
    QByteArray wideToTarga = fixtureBytes("pattern.pct") + QByteArray(40000, '\0');
    wideToTarga.replace(0, 18, QByteArray("\0\0\3\0\0\0\0\0\0\0\0\0\x40\x9C\x01\0\x08\x20", 18));
    pict = Picture::Open(writeFile(folder, "wide.tga", wideToTarga));
    ASSERT_TRUE(pict);
    EXPECT_EQ(pict->Width(), 4);
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
