// TIFF files written here with libtiff: strips and tiles, every common
// compression, 8 and 16 bits, alpha, palettes, bilevel, the orientation tag
// and several pages open as what was written; so do pages that compress to
// almost nothing (within memory), every sample format and subsampled chroma.
// Damaged ones give Nil.

#include "support/PictureFiles.h"

#include <tiffio.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <random>

using namespace picture_files;

namespace {

struct Tiff {
    int width = 21; // tiles of 16 overrun both edges
    int height = 19;
    int samples = 3; // grey, grey and alpha, RGB or RGB and alpha
    int bits = 8;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t alphaKind = EXTRASAMPLE_UNASSALPHA;
    bool tiled = false;
    int orientation = 0; // 0: no tag
    bool palette = false;
    bool bilevel = false;
    bool secondPage = false;
};

// Straight ARGB words of random colours, alpha among a few levels.
Pixels randomPixels(int count, bool alpha, unsigned seed)
{
    std::mt19937 random(seed);
    static constexpr std::uint32_t alphas[] { 0xFF, 0x80, 0x40, 0xFF, 0x00, 0xC0 };
    Pixels pixels;
    for (int i = 0; i < count; ++i)
        pixels.push_back((alpha ? alphas[random() % 6] : 0xFFu) << 24 | (static_cast<std::uint32_t>(random()) & 0xFFFFFF));
    return pixels;
}

std::uint32_t channel(std::uint32_t pixel, int shift) { return (pixel >> shift) & 0xFF; }

// The straight pixels as the file holds them, and what they open as: grey
// pictures keep the green channel, 16-bit samples widen each byte to both
// bytes, premultiplied alpha loses a little of dim colours.
struct Content {
    Pixels written;
    Pixels expected;
};

Content contentOf(Tiff const& tiff)
{
    bool const alpha = tiff.samples == 2 || tiff.samples == 4;
    Content content;
    content.written = randomPixels(tiff.width * tiff.height, alpha, static_cast<unsigned>(tiff.samples * 10 + tiff.bits));
    for (std::uint32_t& pixel : content.written) {
        if (tiff.samples <= 2) {
            std::uint32_t const g = channel(pixel, 8);
            pixel = (pixel & 0xFF000000u) | g << 16 | g << 8 | g;
        }
        if (tiff.palette)
            pixel = 0xFF000000u | (pixel & 0x00E0E0C0u); // a colour of the palette below
        if (tiff.bilevel)
            pixel = (pixel & 0x80) ? 0xFFFFFFFFu : 0xFF000000u;
    }
    content.expected = content.written;
    if (alpha && tiff.alphaKind == EXTRASAMPLE_ASSOCALPHA) {
        for (std::uint32_t& pixel : content.expected) {
            std::uint32_t const a = pixel >> 24;
            std::uint32_t result = a << 24;
            for (int shift : { 16, 8, 0 }) {
                std::uint32_t const premultiplied = (channel(pixel, shift) * a + 127) / 255;
                std::uint32_t const straight = a == 0 ? 0 : a == 255 ? premultiplied : std::min<std::uint32_t>(255, (premultiplied * 255 + a / 2) / a);
                result |= straight << shift;
            }
            pixel = result;
        }
    }
    return content;
}

// The samples of one pixel, in the file's layout and the machine's order.
void putSamples(Tiff const& tiff, std::uint32_t pixel, unsigned char* out)
{
    std::uint32_t values[4] {};
    std::uint32_t const a = pixel >> 24;
    auto stored = [&](std::uint32_t v) { return tiff.alphaKind == EXTRASAMPLE_ASSOCALPHA ? (v * a + 127) / 255 : v; };
    if (tiff.samples <= 2) {
        values[0] = stored(channel(pixel, 8));
        values[1] = a;
    } else {
        values[0] = stored(channel(pixel, 16));
        values[1] = stored(channel(pixel, 8));
        values[2] = stored(channel(pixel, 0));
        values[3] = a;
    }
    for (int i = 0; i < tiff.samples; ++i) {
        if (tiff.bits == 16) {
            auto const wide = static_cast<std::uint16_t>(values[i] * 257);
            std::memcpy(out + i * 2, &wide, 2);
        } else {
            out[i] = static_cast<unsigned char>(values[i]);
        }
    }
}

void writeDirectory(TIFF* file, Tiff const& tiff, Pixels const& pixels)
{
    TIFFSetField(file, TIFFTAG_IMAGEWIDTH, tiff.width);
    TIFFSetField(file, TIFFTAG_IMAGELENGTH, tiff.height);
    TIFFSetField(file, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(file, TIFFTAG_COMPRESSION, tiff.compression);
    if (tiff.orientation)
        TIFFSetField(file, TIFFTAG_ORIENTATION, tiff.orientation);
    int const samples = tiff.palette || tiff.bilevel ? 1 : tiff.samples;
    int const bits = tiff.palette ? 8 : tiff.bilevel ? 1 : tiff.bits;
    TIFFSetField(file, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(file, TIFFTAG_BITSPERSAMPLE, bits);
    if (tiff.palette) {
        TIFFSetField(file, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
        std::vector<std::uint16_t> red(256), green(256), blue(256);
        for (int i = 0; i < 256; ++i) {
            red[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(((i >> 5) << 5) * 257);
            green[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>((((i >> 2) & 7) << 5) * 257);
            blue[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(((i & 3) << 6) * 257);
        }
        TIFFSetField(file, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    } else if (tiff.bilevel) {
        TIFFSetField(file, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    } else {
        TIFFSetField(file, TIFFTAG_PHOTOMETRIC, tiff.samples <= 2 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
        if (tiff.samples == 2 || tiff.samples == 4) {
            std::uint16_t const kind = tiff.alphaKind;
            TIFFSetField(file, TIFFTAG_EXTRASAMPLES, 1, &kind);
        }
    }
    if (tiff.compression == COMPRESSION_JPEG) {
        TIFFSetField(file, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFSetField(file, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        TIFFSetField(file, TIFFTAG_JPEGQUALITY, 100);
        TIFFSetField(file, TIFFTAG_YCBCRSUBSAMPLING, 1, 1);
    }

    auto pixelBytes = [&](int x, int y, unsigned char* out) {
        std::uint32_t const pixel = pixels[static_cast<std::size_t>(y * tiff.width + x)];
        if (tiff.palette)
            out[0] = static_cast<unsigned char>((channel(pixel, 16) >> 5) << 5 | (channel(pixel, 8) >> 5) << 2 | channel(pixel, 0) >> 6);
        else
            putSamples(tiff, pixel, out);
    };
    std::size_t const pixelSize = static_cast<std::size_t>(samples * bits / 8);
    if (tiff.tiled) {
        TIFFSetField(file, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(file, TIFFTAG_TILELENGTH, 16);
        std::vector<unsigned char> tile(static_cast<std::size_t>(TIFFTileSize(file)));
        for (int top = 0; top < tiff.height; top += 16) {
            for (int left = 0; left < tiff.width; left += 16) {
                std::fill(tile.begin(), tile.end(), 0x5A); // padding beyond the edges
                for (int y = top; y < std::min(tiff.height, top + 16); ++y)
                    for (int x = left; x < std::min(tiff.width, left + 16); ++x)
                        pixelBytes(x, y, &tile[(static_cast<std::size_t>(y - top) * 16 + static_cast<std::size_t>(x - left)) * pixelSize]);
                TIFFWriteTile(file, tile.data(), static_cast<std::uint32_t>(left), static_cast<std::uint32_t>(top), 0, 0);
            }
        }
    } else {
        TIFFSetField(file, TIFFTAG_ROWSPERSTRIP, tiff.compression == COMPRESSION_JPEG ? 8 : 4);
        std::vector<unsigned char> row(static_cast<std::size_t>(TIFFScanlineSize(file)));
        for (int y = 0; y < tiff.height; ++y) {
            std::fill(row.begin(), row.end(), 0);
            if (tiff.bilevel) {
                for (int x = 0; x < tiff.width; ++x)
                    if (pixels[static_cast<std::size_t>(y * tiff.width + x)] == 0xFF000000u)
                        row[static_cast<std::size_t>(x / 8)] = static_cast<unsigned char>(row[static_cast<std::size_t>(x / 8)] | 0x80 >> (x % 8));
            } else {
                for (int x = 0; x < tiff.width; ++x)
                    pixelBytes(x, y, &row[static_cast<std::size_t>(x) * pixelSize]);
            }
            TIFFWriteScanline(file, row.data(), static_cast<std::uint32_t>(y), 0);
        }
    }
    TIFFWriteDirectory(file);
}

QByteArray encode(QTemporaryDir const& folder, Tiff const& tiff, Pixels const& pixels)
{
    QString const path = folder.filePath("written.tif");
    TIFF* file = TIFFOpen(path.toUtf8().constData(), "w");
    writeDirectory(file, tiff, pixels);
    if (tiff.secondPage) {
        Tiff other = tiff;
        other.width = 5;
        other.height = 3;
        writeDirectory(file, other, Pixels(15, 0xFF00FF00u));
    }
    TIFFClose(file);
    QFile written(path);
    written.open(QIODevice::ReadOnly);
    return written.readAll();
}

TEST(TiffReader, EveryKindOpensAsWritten)
{
    struct Case {
        char const* name;
        Tiff tiff;
        int tolerance = 0;
    } const cases[] = {
        { "RGB, uncompressed", {} },
        { "RGB, LZW", { .compression = COMPRESSION_LZW } },
        { "RGB, Deflate", { .compression = COMPRESSION_ADOBE_DEFLATE } },
        { "RGB, PackBits", { .compression = COMPRESSION_PACKBITS } },
        { "RGB, JPEG", { .compression = COMPRESSION_JPEG }, 8 },
        { "RGB, 16 bits", { .bits = 16 } },
        { "RGBA", { .samples = 4 } },
        { "RGBA, 16 bits, LZW", { .samples = 4, .bits = 16, .compression = COMPRESSION_LZW } },
        { "RGBA, premultiplied", { .samples = 4, .alphaKind = EXTRASAMPLE_ASSOCALPHA } },
        { "RGBA, alpha of no stated kind", { .samples = 4, .alphaKind = EXTRASAMPLE_UNSPECIFIED } },
        { "grey", { .samples = 1 } },
        { "grey, 16 bits, Deflate", { .samples = 1, .bits = 16, .compression = COMPRESSION_ADOBE_DEFLATE } },
        { "grey and alpha", { .samples = 2 } },
        { "palette", { .palette = true } },
        { "bilevel, white is zero, PackBits", { .compression = COMPRESSION_PACKBITS, .bilevel = true } },
        { "tiles", { .tiled = true } },
        { "tiles, LZW", { .compression = COMPRESSION_LZW, .tiled = true } },
        { "tiles, RGBA, 16 bits, Deflate", { .samples = 4, .bits = 16, .compression = COMPRESSION_ADOBE_DEFLATE, .tiled = true } },
        { "tiles, JPEG", { .compression = COMPRESSION_JPEG, .tiled = true }, 8 },
        { "tiles, palette", { .tiled = true, .palette = true } },
        { "two pages: the first opens", { .compression = COMPRESSION_LZW, .secondPage = true } },
    };
    QTemporaryDir folder;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        Content const content = contentOf(c.tiff);
        Ref<Picture> picture = Picture::Open(writeFile(folder, "kind.tif", encode(folder, c.tiff, content.written)));
        EXPECT_TRUE(holds(picture, c.tiff.width, c.tiff.height, content.expected, c.tolerance));
    }
}

TEST(TiffReader, EveryOrientationTagOpensUpright)
{
    QTemporaryDir folder;
    for (bool tiled : { false, true }) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE("orientation " + std::to_string(orientation) + (tiled ? ", tiles" : ""));
            Tiff const tiff { .width = 37, .height = 90, .compression = COMPRESSION_LZW, .tiled = tiled, .orientation = orientation };
            Content const content = contentOf(tiff);
            int width = 0, height = 0;
            Pixels const expected = upright(content.expected, tiff.width, tiff.height, orientation, width, height);
            Ref<Picture> picture = Picture::Open(writeFile(folder, "turned.tif", encode(folder, tiff, content.written)));
            EXPECT_TRUE(holds(picture, width, height, expected));
        }
    }
}

// The file with the value of one tag of its first directory replaced; the
// files here are little-endian.
QByteArray withTag(QByteArray bytes, std::uint16_t tag, std::uint32_t value)
{
    auto read16 = [&](qsizetype at) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8); };
    qsizetype const directory = static_cast<qsizetype>(read16(4) | read16(6) << 16);
    for (std::uint32_t i = 0; i < read16(directory); ++i) {
        qsizetype const entry = directory + 2 + static_cast<qsizetype>(i) * 12;
        if (read16(entry) != tag)
            continue;
        int const bytesOfValue = read16(entry + 2) == TIFF_SHORT ? 2 : 4;
        for (int b = 0; b < bytesOfValue; ++b)
            bytes[entry + 8 + b] = static_cast<char>(value >> (8 * b));
    }
    return bytes;
}

TEST(TiffReader, DamagedFilesGiveNil)
{
    QTemporaryDir folder;
    Tiff const stripped { .width = 40, .height = 30, .compression = COMPRESSION_LZW };
    Tiff const tiled { .width = 40, .height = 30, .samples = 4, .compression = COMPRESSION_ADOBE_DEFLATE, .tiled = true };
    Tiff const plain { .width = 40, .height = 30 };
    QByteArray const strips = encode(folder, stripped, contentOf(stripped).written);
    QByteArray const tiles = encode(folder, tiled, contentOf(tiled).written);
    QByteArray const uncompressed = encode(folder, plain, contentOf(plain).written);
    ASSERT_TRUE(Picture::Open(writeFile(folder, "whole.tif", strips)));

    std::vector<std::pair<String, QByteArray>> damaged;
    addCuts(damaged, strips, "strips");
    addCuts(damaged, tiles, "tiles");
    addCuts(damaged, uncompressed, "uncompressed");
    for (QByteArray const* bytes : { &strips, &tiles, &uncompressed }) {
        damaged.emplace_back("16384 x 16384 claimed", withTag(withTag(*bytes, TIFFTAG_IMAGEWIDTH, 16384), TIFFTAG_IMAGELENGTH, 16384));
        damaged.emplace_back("32767 rows claimed", withTag(*bytes, TIFFTAG_IMAGELENGTH, 32767)); // more are refused at the header
        damaged.emplace_back("zero width", withTag(*bytes, TIFFTAG_IMAGEWIDTH, 0));
        damaged.emplace_back("zero height", withTag(*bytes, TIFFTAG_IMAGELENGTH, 0));
    }
    damaged.emplace_back("twice as many rows claimed", withTag(uncompressed, TIFFTAG_IMAGELENGTH, 60));
    QByteArray garbled = strips;
    for (qsizetype i = 8; i < strips.size() / 2; i += 5)
        garbled[i] = static_cast<char>(garbled[i] ^ 0xA5);
    damaged.emplace_back("compressed data garbled", garbled);
    expectEachGivesNil(folder, "damaged.tif", damaged);
}

}

namespace {

// A TIFF whose tags `setTags` sets, with the raw bytes of each strip or tile
// given, written uncompressed as they are or through the codec set.
QByteArray rawTiff(QTemporaryDir const& folder, auto const& setTags, std::vector<std::vector<std::uint8_t>> const& pieces)
{
    QString const path = folder.filePath("raw.tif");
    TIFF* file = TIFFOpen(path.toUtf8().constData(), "w");
    setTags(file);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        auto* bytes = const_cast<std::uint8_t*>(pieces[i].data());
        if (TIFFIsTiled(file))
            TIFFWriteEncodedTile(file, static_cast<std::uint32_t>(i), bytes, static_cast<tmsize_t>(pieces[i].size()));
        else
            TIFFWriteEncodedStrip(file, static_cast<std::uint32_t>(i), bytes, static_cast<tmsize_t>(pieces[i].size()));
    }
    TIFFClose(file);
    QFile written(path);
    written.open(QIODevice::ReadOnly);
    return written.readAll();
}

// The file as libtiff's RGBA conversion shows it, as straight ARGB words;
// for files without alpha.
Pixels libraryPixels(String const& path, int width, int height)
{
    TIFF* file = TIFFOpen(path.c_str(), "r");
    std::vector<std::uint32_t> raster(static_cast<std::size_t>(width) * height);
    EXPECT_TRUE(file && TIFFReadRGBAImageOriented(file, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), raster.data(), ORIENTATION_TOPLEFT, 0));
    if (file)
        TIFFClose(file);
    Pixels pixels;
    for (std::uint32_t abgr : raster)
        pixels.push_back(TIFFGetA(abgr) << 24 | TIFFGetR(abgr) << 16 | TIFFGetG(abgr) << 8 | TIFFGetB(abgr));
    return pixels;
}

void setPage(TIFF* file, int width, int height, int samples, int bits, int photometric, int compression)
{
    TIFFSetField(file, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(file, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(file, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(file, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(file, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(file, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(file, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
}

// A white page in one strip. YCbCr has its chroma halved both ways: blocks
// of 2 x 2 luma samples, Cb and Cr.
QByteArray blankPage(QTemporaryDir const& folder, int width, int height, int samples, int bits, int photometric, int compression)
{
    std::vector<std::uint8_t> strip((static_cast<std::size_t>(width) * samples * bits + 7) / 8 * height, photometric == PHOTOMETRIC_MINISWHITE ? 0x00 : 0xFF);
    if (photometric == PHOTOMETRIC_YCBCR) {
        strip.clear();
        for (std::size_t block = 0; block < static_cast<std::size_t>(width / 2) * static_cast<std::size_t>((height + 1) / 2); ++block)
            strip.insert(strip.end(), { 255, 255, 255, 255, 128, 128 });
    }
    return rawTiff(folder, [&](TIFF* file) {
        setPage(file, width, height, samples, bits, photometric, compression);
        TIFFSetField(file, TIFFTAG_ROWSPERSTRIP, 0xFFFFFFFFu); // one strip, whatever the height
        if (photometric == PHOTOMETRIC_YCBCR)
            TIFFSetField(file, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
    }, { strip });
}

TEST(TiffReader, PagesThatCompressToAlmostNothingOpenWithinMemory)
{
    struct Case {
        char const* name;
        int width, height, samples, bits, photometric, compression;
    };
    std::vector<Case> cases { { "A4 at 600 dpi, blank, CCITT G4", 4960, 7016, 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4 },
        { "A4 at 600 dpi, blank, CCITT G3", 4960, 7016, 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX3 } };
    if (TIFFIsCODECConfigured(COMPRESSION_ZSTD))
        cases.push_back({ "white 4000 x 4000, zstd", 4000, 4000, 3, 8, PHOTOMETRIC_RGB, COMPRESSION_ZSTD });
    if (TIFFIsCODECConfigured(COMPRESSION_ZSTD))
        cases.push_back({ "white 4000 x 2999, YCbCr, zstd", 4000, 2999, 3, 8, PHOTOMETRIC_YCBCR, COMPRESSION_ZSTD });
    if (TIFFIsCODECConfigured(COMPRESSION_LZMA))
        cases.push_back({ "white 4000 x 4000, LZMA", 4000, 4000, 3, 8, PHOTOMETRIC_RGB, COMPRESSION_LZMA });
    QTemporaryDir folder;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        Ref<FolderItem> const file = writeFile(folder, "blank.tif", blankPage(folder, c.width, c.height, c.samples, c.bits, c.photometric, c.compression));
        double const pictureMiB = c.width * 4.0 * c.height / 1048576.0;
        Ref<Picture> picture;
        {
            AddressSpaceLimit const bound(static_cast<long>(pictureMiB * 1.25) + 64);
            picture = Picture::Open(file);
        }
        ASSERT_TRUE(picture);
        ASSERT_EQ(picture->Width(), c.width);
        ASSERT_EQ(picture->Height(), c.height);
        bool white = true;
        for (std::int32_t y = 0; y < picture->Height(); ++y)
            white = white && std::all_of(picture->row(y), picture->row(y) + picture->Width(), [](std::uint32_t pixel) { return pixel == 0xFFFFFFFFu; });
        EXPECT_TRUE(white);
    }
}

// A page wider than any picture may be is refused as its header says so:
// its data, which would take long to decode, is not proved first.
TEST(TiffReader, AFarCompressedPageTooWideIsRefusedAtItsHeader)
{
    QTemporaryDir folder;
    Ref<FolderItem> const file = writeFile(folder, "wide.tif", blankPage(folder, 40000, 64, 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4));
    AddressSpaceLimit const bound(picture_files::DamagedFileMebibytes);
    EXPECT_TRUE(raises<OutOfBoundsException>([&] { Picture::Open(file); }, "Width/Height needs to be in the range 1-32767"));
}

TEST(TiffReader, FarCompressedPagesWhoseDataEndsEarlyGiveNil)
{
    QTemporaryDir folder;
    std::vector<std::pair<String, QByteArray>> damaged;
    auto claimFar = [](QByteArray const& bytes) { return withTag(withTag(bytes, TIFFTAG_IMAGEWIDTH, 16384), TIFFTAG_IMAGELENGTH, 16384); };
    damaged.emplace_back("CCITT G4 of 7016 rows claiming 16384 x 16384", claimFar(blankPage(folder, 4960, 7016, 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4)));
    for (int compression : { COMPRESSION_ZSTD, COMPRESSION_LZMA })
        if (TIFFIsCODECConfigured(static_cast<std::uint16_t>(compression)))
            damaged.emplace_back("codec " + std::to_string(compression) + " of 4000 x 1000 claiming 16384 x 16384",
                claimFar(blankPage(folder, 4000, 1000, 3, 8, PHOTOMETRIC_RGB, compression)));
    expectEachGivesNil(folder, "damaged.tif", damaged);
}

// Layouts where the stored data is not a whole number of full-size rows
// or tiles of kilobytes: subsampled chroma, packed bits in small tiles,
// small tiles of separate planes.
TEST(TiffReader, UncompressedLayoutsOpenAsTheLibraryShowsThem)
{
    struct Case {
        char const* name;
        int samples, bits, photometric;
        bool tiled;
        int planar;
        int across = 1, down = 1; // YCbCr subsampling
    } const cases[] = {
        { "YCbCr, chroma halved across", 3, 8, PHOTOMETRIC_YCBCR, false, PLANARCONFIG_CONTIG, 2, 1 },
        { "YCbCr, chroma halved both ways", 3, 8, PHOTOMETRIC_YCBCR, false, PLANARCONFIG_CONTIG, 2, 2 },
        { "1-bit tiles", 1, 1, PHOTOMETRIC_MINISBLACK, true, PLANARCONFIG_CONTIG },
        { "4-bit tiles", 1, 4, PHOTOMETRIC_MINISBLACK, true, PLANARCONFIG_CONTIG },
        { "RGB tiles, separate planes", 3, 8, PHOTOMETRIC_RGB, true, PLANARCONFIG_SEPARATE },
    };
    QTemporaryDir folder;
    std::mt19937 random(3);
    int const width = 40, height = 30;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::vector<std::uint8_t>> pieces;
        auto setTags = [&](TIFF* file) {
            setPage(file, width, height, c.samples, c.bits, c.photometric, COMPRESSION_NONE);
            TIFFSetField(file, TIFFTAG_PLANARCONFIG, c.planar);
            if (c.photometric == PHOTOMETRIC_YCBCR)
                TIFFSetField(file, TIFFTAG_YCBCRSUBSAMPLING, c.across, c.down);
            if (c.tiled) {
                TIFFSetField(file, TIFFTAG_TILEWIDTH, 16);
                TIFFSetField(file, TIFFTAG_TILELENGTH, 16);
            } else {
                TIFFSetField(file, TIFFTAG_ROWSPERSTRIP, 6);
            }
        };
        if (c.tiled) {
            std::size_t const tileBytes = static_cast<std::size_t>(16 * 16 * (c.planar == PLANARCONFIG_SEPARATE ? 1 : c.samples) * c.bits / 8);
            for (int i = 0; i < 3 * 2 * (c.planar == PLANARCONFIG_SEPARATE ? c.samples : 1); ++i) {
                pieces.emplace_back(tileBytes);
                for (std::uint8_t& byte : pieces.back())
                    byte = static_cast<std::uint8_t>(random());
            }
        } else {
            // Blocks of across x down luma samples, then Cb and Cr, for 6 rows.
            std::size_t const blocks = static_cast<std::size_t>(width / c.across * (6 / c.down));
            for (int i = 0; i < height / 6; ++i) {
                pieces.emplace_back(blocks * static_cast<std::size_t>(c.across * c.down + 2));
                for (std::uint8_t& byte : pieces.back())
                    byte = static_cast<std::uint8_t>(random());
            }
        }
        Ref<FolderItem> const file = writeFile(folder, "layout.tif", rawTiff(folder, setTags, pieces));
        EXPECT_TRUE(holds(Picture::Open(file), width, height, libraryPixels(file->path(), width, height)));
    }
}

// Samples map over their type's whole range: floating point from 0.0 to 1.0,
// clamped; signed integers from the smallest (black) to the largest
// (white); unsigned 32-bit integers from 0 to 2^32 - 1.
TEST(TiffReader, SampleFormatsMapOverTheirRange)
{
    auto bytesOf = [](auto const& values) {
        std::vector<std::uint8_t> bytes(values.size() * sizeof(values[0]));
        std::memcpy(bytes.data(), values.data(), bytes.size());
        return bytes;
    };
    struct Case {
        char const* name;
        int bits, format;
        std::vector<std::uint8_t> samples;
        std::vector<std::uint32_t> greys;
    };
    float const nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<Case> const cases {
        { "32-bit float", 32, SAMPLEFORMAT_IEEEFP, bytesOf(std::vector<float> { -0.5f, 0.0f, 0.25f, 0.5f, 1.0f, 2.0f, nan }), { 0, 0, 64, 128, 255, 255, 0 } },
        { "64-bit float", 64, SAMPLEFORMAT_IEEEFP, bytesOf(std::vector<double> { -1.0, 0.0, 0.25, 0.5, 1.0, 1e300, 0.1 }), { 0, 0, 64, 128, 255, 255, 26 } },
        // 16-bit floats: -2, 0, 0.25, 0.5, 1, 65504, 0.1001
        { "16-bit float", 16, SAMPLEFORMAT_IEEEFP, bytesOf(std::vector<std::uint16_t> { 0xC000, 0x0000, 0x3400, 0x3800, 0x3C00, 0x7BFF, 0x2E67 }), { 0, 0, 64, 128, 255, 255, 26 } },
        { "8-bit signed", 8, SAMPLEFORMAT_INT, bytesOf(std::vector<std::int8_t> { -128, -1, 0, 1, 127, -64, 63 }), { 0, 127, 128, 129, 255, 64, 191 } },
        { "16-bit signed", 16, SAMPLEFORMAT_INT, bytesOf(std::vector<std::int16_t> { -32768, -1, 0, 1, 32767, -16384, 16383 }), { 0, 127, 128, 128, 255, 64, 191 } },
        { "32-bit signed", 32, SAMPLEFORMAT_INT, bytesOf(std::vector<std::int32_t> { INT32_MIN, -1, 0, 1, INT32_MAX, INT32_MIN / 2, INT32_MAX / 2 }), { 0, 127, 128, 128, 255, 64, 191 } },
        { "32-bit unsigned", 32, SAMPLEFORMAT_UINT, bytesOf(std::vector<std::uint32_t> { 0, 1, 0x80000000u, 0xFFFFFFFFu, 0x40000000u, 0xC0000000u, 0x01000000u }), { 0, 0, 128, 255, 64, 191, 1 } },
    };
    QTemporaryDir folder;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        Ref<FolderItem> const file = writeFile(folder, "format.tif", rawTiff(folder, [&](TIFF* out) {
            setPage(out, 7, 1, 1, c.bits, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE);
            TIFFSetField(out, TIFFTAG_SAMPLEFORMAT, c.format);
        }, { c.samples }));
        Pixels expected;
        for (std::uint32_t grey : c.greys)
            expected.push_back(0xFF000000u | grey * 0x010101u);
        EXPECT_TRUE(holds(Picture::Open(file), 7, 1, expected));
    }

    // 16-bit CMYK: cyan, magenta, yellow at full and half strength, black.
    std::vector<std::uint16_t> const inks { 0xFFFF, 0, 0, 0, 0, 0x8000, 0, 0, 0, 0, 0xFFFF, 0, 0, 0, 0, 0xFFFF, 0, 0, 0, 0 };
    Ref<FolderItem> const cmyk = writeFile(folder, "cmyk.tif", rawTiff(folder, [](TIFF* out) {
        setPage(out, 5, 1, 4, 16, PHOTOMETRIC_SEPARATED, COMPRESSION_NONE);
    }, { bytesOf(inks) }));
    EXPECT_TRUE(holds(Picture::Open(cmyk), 5, 1, { 0xFF00FFFFu, 0xFFFF7FFFu, 0xFFFFFF00u, 0xFF000000u, 0xFFFFFFFFu }));
}

// Premultiplied colours of 16 bits, and straight ones in planes of their
// own, keep their colour at the lowest alpha.
TEST(TiffReader, AlphaKeepsColourAtLowAlpha)
{
    QTemporaryDir folder;
    Pixels const expected { 0x01C86432u, 0x02FF0080u, 0x80123456u, 0xFFABCDEFu };
    // 16-bit premultiplied: each colour times alpha, at 16 bits.
    std::vector<std::uint16_t> premultiplied;
    for (std::uint32_t pixel : expected) {
        std::uint32_t const a = (pixel >> 24) * 257;
        for (int shift : { 16, 8, 0 })
            premultiplied.push_back(static_cast<std::uint16_t>((((pixel >> shift) & 0xFF) * 257 * a + 32767) / 65535));
        premultiplied.push_back(static_cast<std::uint16_t>(a));
    }
    std::vector<std::uint8_t> premultipliedBytes(premultiplied.size() * 2);
    std::memcpy(premultipliedBytes.data(), premultiplied.data(), premultipliedBytes.size());
    std::uint16_t const associated = EXTRASAMPLE_ASSOCALPHA, unassociated = EXTRASAMPLE_UNASSALPHA;
    Ref<FolderItem> const wide = writeFile(folder, "wide.tif", rawTiff(folder, [&](TIFF* out) {
        setPage(out, 4, 1, 4, 16, PHOTOMETRIC_RGB, COMPRESSION_LZW);
        TIFFSetField(out, TIFFTAG_EXTRASAMPLES, 1, &associated);
    }, { premultipliedBytes }));
    EXPECT_TRUE(holds(Picture::Open(wide), 4, 1, expected, 1));

    // 8-bit straight, a plane a sample: red, green, blue, alpha.
    std::vector<std::vector<std::uint8_t>> planes(4);
    for (std::uint32_t pixel : expected)
        for (int s = 0; s < 4; ++s)
            planes[static_cast<std::size_t>(s)].push_back(static_cast<std::uint8_t>(pixel >> (s == 3 ? 24 : 16 - 8 * s)));
    Ref<FolderItem> const separate = writeFile(folder, "planes.tif", rawTiff(folder, [&](TIFF* out) {
        setPage(out, 4, 1, 4, 8, PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
        TIFFSetField(out, TIFFTAG_EXTRASAMPLES, 1, &unassociated);
    }, planes));
    EXPECT_TRUE(holds(Picture::Open(separate), 4, 1, expected));
}

// The file with its first directory's entry for the tag given changed: its
// count set, or its data cut off at the end of the file.
QByteArray withCount(QByteArray bytes, std::uint16_t tag, std::uint32_t count, bool cutData)
{
    auto read16 = [&](qsizetype at) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8); };
    auto read32 = [&](qsizetype at) { return read16(at) | read16(at + 2) << 16; };
    qsizetype const directory = static_cast<qsizetype>(read32(4));
    for (std::uint32_t i = 0; i < read16(directory); ++i) {
        qsizetype const entry = directory + 2 + static_cast<qsizetype>(i) * 12;
        if (read16(entry) != tag)
            continue;
        if (cutData)
            return bytes.left(static_cast<qsizetype>(read32(entry + 8)) + 100);
        for (int b = 0; b < 4; ++b)
            bytes[entry + 4 + b] = static_cast<char>(count >> (8 * b));
    }
    return bytes;
}

TEST(TiffReader, DamagedDirectoriesGiveNil)
{
    QTemporaryDir folder;
    // A palette picture with its colour map written after its pixels.
    std::vector<std::uint8_t> indices(64);
    for (std::size_t i = 0; i < indices.size(); ++i)
        indices[i] = static_cast<std::uint8_t>(i * 3);
    QByteArray const palette = rawTiff(folder, [](TIFF* out) {
        setPage(out, 8, 8, 1, 8, PHOTOMETRIC_PALETTE, COMPRESSION_NONE);
        std::vector<std::uint16_t> red(256), green(256), blue(256);
        for (std::size_t i = 0; i < 256; ++i)
            red[i] = static_cast<std::uint16_t>(i * 257), green[i] = static_cast<std::uint16_t>((255 - i) * 257), blue[i] = 0x8080;
        TIFFSetField(out, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }, { indices });
    ASSERT_TRUE(Picture::Open(writeFile(folder, "palette.tif", palette)));

    std::vector<std::pair<String, QByteArray>> const damaged {
        { "a first directory without entries", QByteArray("II*\0\x08\0\0\0\0\0\0\0\0\0", 14) },
        { "a big-endian one", QByteArray("MM\0*\0\0\0\x08\0\0\0\0\0\0", 14) },
        { "a colour map of too few entries", withCount(palette, TIFFTAG_COLORMAP, 48, false) },
        { "a colour map cut off by the end of the file", withCount(palette, TIFFTAG_COLORMAP, 0, true) },
    };
    expectEachGivesNil(folder, "damaged.tif", damaged);
}

}
