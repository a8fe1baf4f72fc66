// PNG files of every kind that common tools write, made here with libpng
// from known samples, open as exactly those samples; damaged ones give Nil.

#include "support/PngFiles.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <random>

using namespace picture_files;
using namespace picture_files::png;

namespace {

struct Variant {
    char const* name;
    int colourType;
    int depth;
    bool interlaced;
    enum { Plain, Transparency } extra = Plain;
};

PngImage imageOf(Variant const& variant)
{
    PngImage image;
    image.width = 13; // odd sizes leave every pass of the interlacing partly filled
    image.height = 11;
    image.colourType = variant.colourType;
    image.depth = variant.depth;
    image.interlaced = variant.interlaced;
    image.samples = samplesFor(image.width * image.height * image.channels(), variant.depth, static_cast<unsigned>(variant.colourType * 100 + variant.depth));
    if (variant.colourType == PNG_COLOR_TYPE_PALETTE) {
        int const entries = 1 << variant.depth;
        std::mt19937 random(5);
        for (int i = 0; i < entries; ++i)
            image.palette.push_back(png_color { static_cast<png_byte>(random()), static_cast<png_byte>(random()), static_cast<png_byte>(random()) });
        if (variant.extra == Variant::Transparency)
            for (int i = 0; i < entries / 2 + 1; ++i)
                image.paletteAlpha.push_back(static_cast<png_byte>(i * 97));
    } else if (variant.extra == Variant::Transparency) {
        png_color_16 colour {};
        colour.gray = static_cast<png_uint_16>(image.sample(3, 0, 0));
        colour.red = static_cast<png_uint_16>(image.sample(3, 0, 0));
        if (image.channels() >= 3) {
            colour.green = static_cast<png_uint_16>(image.sample(3, 0, 1));
            colour.blue = static_cast<png_uint_16>(image.sample(3, 0, 2));
        }
        image.transparentColour = colour;
    }
    return image;
}

Variant const variants[] = {
    { "grey 1 bit", PNG_COLOR_TYPE_GRAY, 1, false },
    { "grey 2 bits", PNG_COLOR_TYPE_GRAY, 2, false },
    { "grey 4 bits", PNG_COLOR_TYPE_GRAY, 4, false },
    { "grey 8 bits", PNG_COLOR_TYPE_GRAY, 8, false },
    { "grey 16 bits", PNG_COLOR_TYPE_GRAY, 16, false },
    { "grey 8 bits with a transparent grey", PNG_COLOR_TYPE_GRAY, 8, false, Variant::Transparency },
    { "grey 16 bits with a transparent grey", PNG_COLOR_TYPE_GRAY, 16, false, Variant::Transparency },
    { "grey with alpha 8 bits", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false },
    { "grey with alpha 16 bits", PNG_COLOR_TYPE_GRAY_ALPHA, 16, false },
    { "palette 1 bit", PNG_COLOR_TYPE_PALETTE, 1, false },
    { "palette 2 bits", PNG_COLOR_TYPE_PALETTE, 2, false },
    { "palette 4 bits with tRNS", PNG_COLOR_TYPE_PALETTE, 4, false, Variant::Transparency },
    { "palette 8 bits with tRNS", PNG_COLOR_TYPE_PALETTE, 8, false, Variant::Transparency },
    { "RGB 8 bits", PNG_COLOR_TYPE_RGB, 8, false },
    { "RGB 16 bits", PNG_COLOR_TYPE_RGB, 16, false },
    { "RGB 8 bits with a transparent colour", PNG_COLOR_TYPE_RGB, 8, false, Variant::Transparency },
    { "RGBA 8 bits", PNG_COLOR_TYPE_RGB_ALPHA, 8, false },
    { "RGBA 16 bits", PNG_COLOR_TYPE_RGB_ALPHA, 16, false },
    { "interlaced grey 1 bit", PNG_COLOR_TYPE_GRAY, 1, true },
    { "interlaced palette 4 bits with tRNS", PNG_COLOR_TYPE_PALETTE, 4, true, Variant::Transparency },
    { "interlaced RGB 8 bits", PNG_COLOR_TYPE_RGB, 8, true },
    { "interlaced RGBA 16 bits", PNG_COLOR_TYPE_RGB_ALPHA, 16, true },
    { "interlaced grey with alpha 8 bits", PNG_COLOR_TYPE_GRAY_ALPHA, 8, true },
};

TEST(PngReader, EveryVariantOpensAsItsSamples)
{
    QTemporaryDir folder;
    for (Variant const& variant : variants) {
        SCOPED_TRACE(variant.name);
        PngImage const image = imageOf(variant);
        Ref<Picture> picture = Picture::Open(writeFile(folder, "variant.png", encode(image)));
        EXPECT_TRUE(holds(picture, image.width, image.height, image.expected()));
    }
}

TEST(PngReader, ImageDataSplitOverManyChunksAndStoredUncompressedOpens)
{
    // A large picture spans many IDAT chunks and many inflated pieces; level
    // 0 stores it, so the inflater meets stored blocks too.
    QTemporaryDir folder;
    for (int level : { 0, 6 }) {
        SCOPED_TRACE(level);
        PngImage image = imageOf({ "RGB", PNG_COLOR_TYPE_RGB, 8, false });
        image.width = 700;
        image.height = 300;
        image.compression = level;
        image.samples = samplesFor(image.width * image.height * 3, 8, 3);
        for (std::size_t i = 0; i < image.samples.size() / 2; ++i)
            image.samples[i] = static_cast<std::uint32_t>(i % 251); // a run that compresses
        Ref<Picture> picture = Picture::Open(writeFile(folder, "large.png", encode(image)));
        EXPECT_TRUE(holds(picture, image.width, image.height, image.expected()));
    }
}

TEST(PngReader, FlatPicturesWhoseDataEndsAsTheInflatedPieceFillsOpen)
{
    // A flat picture inflates from a few bits to thousands of bytes: when
    // the last of the image data has been read ahead by the inflater just
    // as its output filled, the end of the stream is still in the bits it
    // holds. Rows of 1024 bytes make the inflated pieces (288 KiB, then 256
    // KiB each) end at a row, and one row more ends the data right after.
    QTemporaryDir folder;
    struct Flat {
        int width, height, colourType, level;
    };
    for (Flat const flat : { Flat { 1023, 289, PNG_COLOR_TYPE_GRAY, 9 }, Flat { 1023, 545, PNG_COLOR_TYPE_GRAY, 9 },
             Flat { 1023, 1057, PNG_COLOR_TYPE_GRAY, 9 }, Flat { 341, 290, PNG_COLOR_TYPE_RGB, 9 }, Flat { 2179, 425, PNG_COLOR_TYPE_RGB_ALPHA, 6 } }) {
        SCOPED_TRACE(std::to_string(flat.width) + " x " + std::to_string(flat.height) + " at level " + std::to_string(flat.level));
        PngImage image;
        image.width = flat.width;
        image.height = flat.height;
        image.colourType = flat.colourType;
        image.compression = flat.level;
        image.samples.assign(static_cast<std::size_t>(image.width) * image.height * image.channels(), 201);
        Ref<Picture> picture = Picture::Open(writeFile(folder, "flat.png", encode(image)));
        EXPECT_TRUE(holds(picture, image.width, image.height, image.expected()));
    }
}

// The offset of a chunk's length field, by type.
qsizetype chunkAt(QByteArray const& bytes, char const* type)
{
    return bytes.indexOf(type) - 4;
}

TEST(PngReader, DamagedFilesGiveNil)
{
    QTemporaryDir folder;
    PngImage image = imageOf({ "RGBA", PNG_COLOR_TYPE_RGB_ALPHA, 8, false });
    QByteArray const whole = encode(image);
    QByteArray const interlaced = encode(imageOf({ "interlaced", PNG_COLOR_TYPE_PALETTE, 4, true, Variant::Transparency }));
    ASSERT_TRUE(Picture::Open(writeFile(folder, "whole.png", whole)));

    std::vector<std::pair<String, QByteArray>> damaged;
    for (QByteArray const* bytes : { &whole, &interlaced })
        for (qsizetype length : cutLengths(bytes->size()))
            damaged.emplace_back("cut at " + std::to_string(length), bytes->left(length));

    auto withSize = [&](std::uint32_t width, std::uint32_t height) {
        // The header's size replaced, its checksum made right again, so the
        // file is damaged only in what it claims.
        QByteArray bytes = whole;
        qsizetype const ihdr = chunkAt(bytes, "IHDR");
        for (int i = 0; i < 4; ++i) {
            bytes[ihdr + 8 + i] = static_cast<char>(width >> (24 - 8 * i));
            bytes[ihdr + 12 + i] = static_cast<char>(height >> (24 - 8 * i));
        }
        std::uint32_t const crc = static_cast<std::uint32_t>(::crc32(0, reinterpret_cast<Bytef const*>(bytes.constData() + ihdr + 4), 17));
        for (int i = 0; i < 4; ++i)
            bytes[ihdr + 8 + 13 + i] = static_cast<char>(crc >> (24 - 8 * i));
        return bytes;
    };
    damaged.emplace_back("16384 x 16384 claimed", withSize(16384, 16384));
    damaged.emplace_back("1 x 100000000 claimed", withSize(1, 100000000));
    damaged.emplace_back("20000 x 20000 claimed", withSize(20000, 20000));
    damaged.emplace_back("zero width", withSize(0, 11));
    damaged.emplace_back("zero height", withSize(13, 0));
    damaged.emplace_back("one row more claimed", withSize(13, 12));

    QByteArray badChecksum = whole;
    qsizetype const idat = chunkAt(whole, "IDAT");
    badChecksum[idat + 20] = static_cast<char>(badChecksum[idat + 20] ^ 0x55);
    damaged.emplace_back("a byte of the image data changed", badChecksum);
    QByteArray noEnd = whole;
    noEnd.chop(12);
    damaged.emplace_back("no IEND", noEnd);

    AddressSpaceLimit const bound(DamagedFileMebibytes);
    for (auto const& [what, bytes] : damaged) {
        SCOPED_TRACE(what);
        EXPECT_TRUE(givesNil(writeFile(folder, "damaged.png", bytes)));
    }
}

}
