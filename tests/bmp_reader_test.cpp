// BMP files of every kind that common tools write, made here byte by byte
// from known pixels, open as those pixels; damaged ones give Nil.

#include "support/BmpFiles.h"

#include <gtest/gtest.h>

using namespace picture_files;
using namespace picture_files::bmp;

namespace {

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
