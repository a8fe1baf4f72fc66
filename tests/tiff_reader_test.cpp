// TIFF files written here with libtiff: strips and tiles, every common
// compression, 8 and 16 bits, alpha, palettes, bilevel, the orientation tag
// and several pages open as what was written; damaged ones give Nil.

#include "support/PictureFiles.h"

#include <tiffio.h>

#include <gtest/gtest.h>

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
