// TIFF files of every kind the reader takes, written here with libtiff from
// a seeded generator, open as libtiff's own RGBA conversion shows them where
// that conversion is exact, and otherwise as the content that was written:
// for samples it does not convert (floating point, signed and 32-bit
// integers, 16-bit CMYK) and for alpha, which it premultiplies to 8 bits.
// Each opens within 1.25 times its picture's memory and 64 MiB.

#include "support/PictureFiles.h"

#include <tiffio.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>

using namespace picture_files;

namespace {

enum class Kind { Grey, InvertedGrey, Rgb, Palette, Cmyk, YCbCr };
enum class Look { Noise, Flat, Screenshot };

struct Case {
    int width = 64;
    int height = 48;
    Kind kind = Kind::Rgb;
    int bits = 8;
    std::uint16_t format = SAMPLEFORMAT_UINT;
    std::uint16_t alpha = 0; // 0, or the kind of the extra sample
    std::uint16_t compression = COMPRESSION_NONE;
    int level = -1; // of Deflate, zstd and LZMA; -1 for the codec's default
    bool predictor = false;
    int tile = 0; // the side of square tiles; 0 for strips
    int rowsPerStrip = 0; // 0 for one strip
    bool separate = false;
    int subsampling = 1; // YCbCr: chroma halved across (2), and down too (4)
    Look look = Look::Noise;

    int colourSamples() const { return kind == Kind::Rgb || kind == Kind::YCbCr ? 3 : kind == Kind::Cmyk ? 4 : 1; }
    int samples() const { return colourSamples() + (alpha ? 1 : 0); }
    int across() const { return subsampling == 1 ? 1 : 2; }
    int down() const { return subsampling == 4 ? 2 : 1; }

    std::string describe() const
    {
        static char const* const kinds[] = { "grey", "inverted grey", "RGB", "palette", "CMYK", "YCbCr" };
        static char const* const looks[] = { "noise", "flat", "screenshot" };
        std::ostringstream text;
        text << width << " x " << height << " " << kinds[static_cast<int>(kind)] << ", " << bits << " bits"
             << (format == SAMPLEFORMAT_INT ? " signed" : format == SAMPLEFORMAT_IEEEFP ? " float" : "")
             << (alpha == EXTRASAMPLE_ASSOCALPHA ? ", premultiplied alpha" : alpha ? ", straight alpha" : "")
             << ", compression " << compression << (level >= 0 ? " level " + std::to_string(level) : "") << (predictor ? " with predictor" : "")
             << (tile ? ", tiles of " + std::to_string(tile) : ", strips of " + std::to_string(rowsPerStrip ? rowsPerStrip : height) + " rows")
             << (separate ? ", separate planes" : "") << (subsampling > 1 ? ", chroma subsampled " + std::to_string(across()) + "x" + std::to_string(down()) : "")
             << ", " << looks[static_cast<int>(look)];
        return text.str();
    }
};

// The straight ARGB words the file is written from, at 8 bits a channel.
Pixels content(Case const& c, std::mt19937& random)
{
    Pixels pixels(static_cast<std::size_t>(c.width) * c.height);
    static constexpr std::uint32_t alphas[] { 0xFF, 0x00, 0x01, 0x02, 0x07, 0x80, 0xFE, 0x33 };
    std::uint32_t const flat = static_cast<std::uint32_t>(random());
    std::vector<std::uint32_t> blocks(64);
    for (std::uint32_t& block : blocks)
        block = static_cast<std::uint32_t>(random());
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            std::uint32_t pixel = c.look == Look::Flat ? flat : static_cast<std::uint32_t>(random());
            if (c.look == Look::Screenshot && pixel % 16 != 0)
                pixel = blocks[static_cast<std::size_t>((x / 37 + (y / 23) * 7) % 64)]; // windows of flat colour, some text
            std::uint32_t const a = c.alpha ? alphas[(pixel >> 24) % 8] : 0xFF;
            if (c.kind == Kind::Grey || c.kind == Kind::InvertedGrey)
                pixel = (pixel & 0xFF) * 0x010101u;
            pixels[static_cast<std::size_t>(y) * c.width + x] = a << 24 | (pixel & 0xFFFFFF);
        }
    }
    return pixels;
}

// Whether libtiff's RGBA conversion shows the file exactly: samples it
// converts, and no alpha.
bool referenceIsExact(Case const& c)
{
    if (c.alpha || c.format != SAMPLEFORMAT_UINT)
        return false;
    switch (c.kind) {
    case Kind::Grey:
    case Kind::InvertedGrey: return c.bits == 1 || c.bits == 2 || c.bits == 4 || c.bits == 8 || c.bits == 16;
    case Kind::Rgb: return c.bits == 8 || c.bits == 16;
    case Kind::Palette: return c.bits <= 8;
    case Kind::Cmyk:
    case Kind::YCbCr: return c.bits == 8;
    }
    return false;
}

std::uint16_t halfFloat(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    std::uint32_t const sign = (bits >> 16) & 0x8000;
    int const exponent = static_cast<int>((bits >> 23) & 0xFF) - 127 + 15;
    if (exponent <= 0) // below the smallest normal value: a multiple of 2^-24
        return static_cast<std::uint16_t>(sign | static_cast<std::uint32_t>(std::lround(std::fabs(value) * 16777216.0)));
    if (exponent >= 31)
        return static_cast<std::uint16_t>(sign | 0x7C00);
    std::uint32_t const fraction = bits & 0x7FFFFF;
    std::uint32_t half = sign | static_cast<std::uint32_t>(exponent) << 10 | fraction >> 13;
    if ((fraction & 0x1FFF) > 0x1000 || ((fraction & 0x1FFF) == 0x1000 && (half & 1)))
        ++half; // to the nearest, ties to even
    return static_cast<std::uint16_t>(half);
}

// The file's packed rows of one plane, each padded to a byte.
struct Plane {
    std::size_t rowBytes = 0;
    std::vector<std::uint8_t> bytes;
};

// Puts value v (an 8-bit level, or for floats any level / 255) as a sample.
void putSample(Case const& c, std::uint8_t* row, std::size_t index, double level)
{
    if (c.format == SAMPLEFORMAT_IEEEFP) {
        double const value = level / 255.0;
        if (c.bits == 16) {
            std::uint16_t const half = halfFloat(static_cast<float>(value));
            std::memcpy(row + index * 2, &half, 2);
        } else if (c.bits == 32) {
            float const single = static_cast<float>(value);
            std::memcpy(row + index * 4, &single, 4);
        } else {
            std::memcpy(row + index * 8, &value, 8);
        }
        return;
    }
    auto const v = static_cast<std::uint32_t>(level);
    if (c.bits < 8 || c.bits == 12) {
        std::uint64_t const value = c.bits < 8 ? v >> (8 - c.bits) : (v * 4095 + 127) / 255;
        for (int i = 0; i < c.bits; ++i) {
            std::size_t const bit = index * static_cast<std::size_t>(c.bits) + static_cast<std::size_t>(i);
            if ((value >> (c.bits - 1 - i)) & 1)
                row[bit / 8] = static_cast<std::uint8_t>(row[bit / 8] | 0x80 >> (bit % 8));
        }
        return;
    }
    // Whole bytes: the level times (2^bits - 1) / 255, offset for signed.
    std::uint64_t value = 0;
    for (int i = 0; i < c.bits / 8; ++i)
        value = value << 8 | v;
    if (c.format == SAMPLEFORMAT_INT)
        value ^= std::uint64_t { 1 } << (c.bits - 1);
    std::memcpy(row + index * static_cast<std::size_t>(c.bits / 8), &value, static_cast<std::size_t>(c.bits / 8));
}

// The samples of one pixel as levels: colour (premultiplied where the alpha
// is, at the samples' precision, rounded back to a level) and alpha.
struct Levels {
    std::array<double, 5> values {};
    std::size_t count = 0;
    void push_back(double value) { values[count++] = value; }
    double operator[](std::size_t i) const { return values[i]; }
};

Levels levels(Case const& c, std::uint32_t pixel)
{
    Levels values;
    double const a = pixel >> 24;
    auto channel = [&](int shift) {
        double const level = (pixel >> shift) & 0xFF;
        if (c.alpha != EXTRASAMPLE_ASSOCALPHA)
            return level;
        if (c.format == SAMPLEFORMAT_IEEEFP)
            return level * a / 255.0;
        double const largest = c.bits == 8 ? 255.0 : 65535.0; // 16 bits and more: written at 16 bits
        return std::round(level * 257.0 / (65535.0 / largest) * a / 255.0) / (largest / 255.0);
    };
    switch (c.kind) {
    case Kind::Grey:
    case Kind::InvertedGrey: {
        double const g = channel(0);
        values.push_back(c.kind == Kind::InvertedGrey ? 255.0 - g : g);
        break;
    }
    case Kind::Rgb:
        for (int shift : { 16, 8, 0 })
            values.push_back(channel(shift));
        break;
    case Kind::Cmyk:
        for (int shift : { 16, 8, 0 })
            values.push_back(255.0 - channel(shift));
        values.push_back(0.0);
        break;
    default:
        break;
    }
    if (c.alpha)
        values.push_back(a);
    return values;
}

// A level of 16-bit precision (premultiplied colour) as a sample.
void putLevel(Case const& c, std::uint8_t* row, std::size_t index, double level)
{
    if (c.format != SAMPLEFORMAT_IEEEFP && c.bits >= 16 && level != std::floor(level)) {
        // A premultiplied level between 8-bit ones: its 16-bit value, widened.
        auto const wide = static_cast<std::uint64_t>(std::lround(level * 257.0));
        std::uint64_t value = 0;
        for (int i = 0; i < c.bits / 16; ++i)
            value = value << 16 | wide;
        if (c.format == SAMPLEFORMAT_INT)
            value ^= std::uint64_t { 1 } << (c.bits - 1);
        std::memcpy(row + index * static_cast<std::size_t>(c.bits / 8), &value, static_cast<std::size_t>(c.bits / 8));
        return;
    }
    putSample(c, row, index, level);
}

std::vector<Plane> planesOf(Case const& c, Pixels const& pixels)
{
    int const samples = c.kind == Kind::Palette ? 1 : c.samples();
    int const planes = c.separate ? samples : 1;
    int const perPlane = c.separate ? 1 : samples;
    std::vector<Plane> result(static_cast<std::size_t>(planes));
    for (Plane& plane : result) {
        plane.rowBytes = (static_cast<std::size_t>(c.width) * perPlane * c.bits + 7) / 8;
        plane.bytes.assign(plane.rowBytes * c.height, 0);
    }
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            std::uint32_t const pixel = pixels[static_cast<std::size_t>(y) * c.width + x];
            Levels values;
            if (c.kind == Kind::Palette)
                values.push_back(static_cast<double>(pixel & 0xFF));
            else
                values = levels(c, pixel);
            for (int s = 0; s < samples; ++s) {
                Plane& plane = result[static_cast<std::size_t>(c.separate ? s : 0)];
                std::size_t const index = static_cast<std::size_t>(x) * perPlane + (c.separate ? 0 : s);
                putLevel(c, plane.bytes.data() + plane.rowBytes * y, index, values[static_cast<std::size_t>(s)]);
            }
        }
    }
    return result;
}

// YCbCr in blocks of (across x down) luma samples and one Cb and one Cr,
// block row after block row; the chroma of a block is its first pixel's.
std::vector<std::uint8_t> yCbCrBlocks(Case const& c, Pixels const& pixels, int top, int rows, int left, int columns)
{
    std::vector<std::uint8_t> bytes;
    for (int y = top; y < top + rows; y += c.down()) {
        for (int x = left; x < left + columns; x += c.across()) {
            for (int dy = 0; dy < c.down(); ++dy)
                for (int dx = 0; dx < c.across(); ++dx) {
                    int const px = std::min(x + dx, c.width - 1), py = std::min(y + dy, c.height - 1);
                    bytes.push_back(static_cast<std::uint8_t>(pixels[static_cast<std::size_t>(py) * c.width + px] & 0xFF));
                }
            std::uint32_t const pixel = pixels[static_cast<std::size_t>(std::min(y, c.height - 1)) * c.width + std::min(x, c.width - 1)];
            bytes.push_back(static_cast<std::uint8_t>(pixel >> 8));
            bytes.push_back(static_cast<std::uint8_t>(pixel >> 16));
        }
    }
    return bytes;
}

std::uint16_t photometricOf(Kind kind)
{
    switch (kind) {
    case Kind::Grey: return PHOTOMETRIC_MINISBLACK;
    case Kind::InvertedGrey: return PHOTOMETRIC_MINISWHITE;
    case Kind::Rgb: return PHOTOMETRIC_RGB;
    case Kind::Palette: return PHOTOMETRIC_PALETTE;
    case Kind::Cmyk: return PHOTOMETRIC_SEPARATED;
    case Kind::YCbCr: return PHOTOMETRIC_YCBCR;
    }
    return PHOTOMETRIC_RGB;
}

void setTags(TIFF* file, Case const& c)
{
    TIFFSetField(file, TIFFTAG_IMAGEWIDTH, c.width);
    TIFFSetField(file, TIFFTAG_IMAGELENGTH, c.height);
    TIFFSetField(file, TIFFTAG_SAMPLESPERPIXEL, c.kind == Kind::Palette ? 1 : c.samples());
    TIFFSetField(file, TIFFTAG_BITSPERSAMPLE, c.bits);
    TIFFSetField(file, TIFFTAG_SAMPLEFORMAT, c.format);
    TIFFSetField(file, TIFFTAG_PLANARCONFIG, c.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(file, TIFFTAG_PHOTOMETRIC, photometricOf(c.kind));
    TIFFSetField(file, TIFFTAG_COMPRESSION, c.compression);
    if (c.alpha)
        TIFFSetField(file, TIFFTAG_EXTRASAMPLES, 1, &c.alpha);
    if (c.predictor)
        TIFFSetField(file, TIFFTAG_PREDICTOR, c.format == SAMPLEFORMAT_IEEEFP ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
    if (c.level >= 0) {
        if (c.compression == COMPRESSION_ADOBE_DEFLATE)
            TIFFSetField(file, TIFFTAG_ZIPQUALITY, c.level);
        if (c.compression == COMPRESSION_ZSTD)
            TIFFSetField(file, TIFFTAG_ZSTD_LEVEL, c.level);
        if (c.compression == COMPRESSION_LZMA)
            TIFFSetField(file, TIFFTAG_LZMAPRESET, c.level);
    }
    if (c.compression == COMPRESSION_JPEG) {
        TIFFSetField(file, TIFFTAG_JPEGQUALITY, 90);
        if (c.kind == Kind::YCbCr)
            TIFFSetField(file, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (c.kind == Kind::YCbCr)
        TIFFSetField(file, TIFFTAG_YCBCRSUBSAMPLING, c.across(), c.down());
    if (c.kind == Kind::Palette) {
        std::size_t const entries = std::size_t { 1 } << c.bits;
        std::vector<std::uint16_t> red(entries), green(entries), blue(entries);
        for (std::size_t i = 0; i < entries; ++i) {
            red[i] = static_cast<std::uint16_t>((i * 37 % 256) * 257);
            green[i] = static_cast<std::uint16_t>((i * 91 % 256) * 257);
            blue[i] = static_cast<std::uint16_t>((255 - i % 256) * 257);
        }
        TIFFSetField(file, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }
    if (c.tile) {
        TIFFSetField(file, TIFFTAG_TILEWIDTH, c.tile);
        TIFFSetField(file, TIFFTAG_TILELENGTH, c.tile);
    } else {
        TIFFSetField(file, TIFFTAG_ROWSPERSTRIP, c.rowsPerStrip ? c.rowsPerStrip : c.height);
    }
}

void writeTiff(String const& path, Case const& c, Pixels const& pixels)
{
    TIFF* file = TIFFOpen(path.c_str(), "w");
    ASSERT_TRUE(file);
    setTags(file, c);
    if (c.kind == Kind::YCbCr && c.compression != COMPRESSION_JPEG && c.tile) {
        for (int top = 0; top < c.height; top += c.tile) {
            for (int left = 0; left < c.width; left += c.tile) {
                std::vector<std::uint8_t> blocks = yCbCrBlocks(c, pixels, top, c.tile, left, c.tile);
                TIFFWriteEncodedTile(file, TIFFComputeTile(file, static_cast<std::uint32_t>(left), static_cast<std::uint32_t>(top), 0, 0), blocks.data(), static_cast<tmsize_t>(blocks.size()));
            }
        }
        TIFFClose(file);
        return;
    }
    if (c.kind == Kind::YCbCr && c.compression != COMPRESSION_JPEG) {
        int const rows = c.rowsPerStrip ? c.rowsPerStrip : c.height;
        for (int top = 0, strip = 0; top < c.height; top += rows, ++strip) {
            std::vector<std::uint8_t> blocks = yCbCrBlocks(c, pixels, top, std::min(rows, c.height - top), 0, c.width);
            TIFFWriteEncodedStrip(file, static_cast<std::uint32_t>(strip), blocks.data(), static_cast<tmsize_t>(blocks.size()));
        }
        TIFFClose(file);
        return;
    }
    Pixels source = pixels;
    if (c.kind == Kind::YCbCr) // JPEG: the codec takes RGB
        for (std::uint32_t& pixel : source)
            pixel |= 0xFF000000u;
    Case asWritten = c;
    if (c.kind == Kind::YCbCr)
        asWritten.kind = Kind::Rgb;
    std::vector<Plane> const planes = planesOf(asWritten, source);
    for (std::size_t p = 0; p < planes.size(); ++p) {
        Plane const& plane = planes[p];
        if (c.tile) {
            std::size_t const tileRow = static_cast<std::size_t>(TIFFTileRowSize(file));
            std::vector<std::uint8_t> tile(static_cast<std::size_t>(TIFFTileSize(file)));
            for (int top = 0; top < c.height; top += c.tile) {
                for (int left = 0; left < c.width; left += c.tile) {
                    std::fill(tile.begin(), tile.end(), 0);
                    std::size_t const start = static_cast<std::size_t>(left) * tileRow / static_cast<std::size_t>(c.tile);
                    for (int y = 0; y < std::min(c.tile, c.height - top); ++y)
                        std::memcpy(tile.data() + tileRow * y, plane.bytes.data() + plane.rowBytes * (top + y) + start, std::min(tileRow, plane.rowBytes - start));
                    TIFFWriteTile(file, tile.data(), static_cast<std::uint32_t>(left), static_cast<std::uint32_t>(top), 0, static_cast<std::uint16_t>(p));
                }
            }
        } else {
            for (int y = 0; y < c.height; ++y)
                TIFFWriteScanline(file, const_cast<std::uint8_t*>(plane.bytes.data() + plane.rowBytes * y), static_cast<std::uint32_t>(y), static_cast<std::uint16_t>(p));
        }
    }
    TIFFClose(file);
}

// The file as libtiff's RGBA conversion shows it, as ARGB words.
Pixels reference(String const& path, Case const& c)
{
    TIFF* file = TIFFOpen(path.c_str(), "r");
    std::vector<std::uint32_t> raster(static_cast<std::size_t>(c.width) * c.height);
    bool const read = file && TIFFReadRGBAImageOriented(file, static_cast<std::uint32_t>(c.width), static_cast<std::uint32_t>(c.height), raster.data(), ORIENTATION_TOPLEFT, 0);
    if (file)
        TIFFClose(file);
    EXPECT_TRUE(read) << "the reference did not read " << c.describe();
    Pixels pixels;
    for (std::uint32_t abgr : raster)
        pixels.push_back(TIFFGetA(abgr) << 24 | TIFFGetR(abgr) << 16 | TIFFGetG(abgr) << 8 | TIFFGetB(abgr));
    return pixels;
}

// What the written content opens as: grey of the blue channel, premultiplied
// colours of no alpha as black.
Pixels writtenContent(Case const& c, Pixels const& pixels)
{
    Pixels expected = pixels;
    if (c.alpha == EXTRASAMPLE_ASSOCALPHA)
        for (std::uint32_t& pixel : expected)
            if (pixel >> 24 == 0)
                pixel = 0;
    return expected;
}

// Premultiplied 8-bit colours come back within the step that alpha leaves
// them; at 16 bits and more, within one level.
int toleranceOf(Case const& c)
{
    if (c.compression == COMPRESSION_JPEG && !referenceIsExact(c))
        return 255;
    if (c.alpha == EXTRASAMPLE_ASSOCALPHA)
        return c.bits == 8 ? 128 : 1;
    return c.bits == 12 ? 1 : 0;
}

bool codecAvailable(std::uint16_t compression)
{
    return TIFFIsCODECConfigured(compression);
}

std::vector<Case> cases()
{
    std::mt19937 random(20261210);
    auto pick = [&](auto const& options) { return options[random() % options.size()]; };
    struct Sort {
        Kind kind;
        int bits;
        std::uint16_t format;
        std::uint16_t alpha;
    };
    std::vector<Sort> const sorts {
        { Kind::Grey, 1, SAMPLEFORMAT_UINT, 0 }, { Kind::Grey, 2, SAMPLEFORMAT_UINT, 0 }, { Kind::Grey, 4, SAMPLEFORMAT_UINT, 0 },
        { Kind::Grey, 8, SAMPLEFORMAT_UINT, 0 }, { Kind::Grey, 12, SAMPLEFORMAT_UINT, 0 }, { Kind::Grey, 16, SAMPLEFORMAT_UINT, 0 },
        { Kind::Grey, 32, SAMPLEFORMAT_UINT, 0 }, { Kind::Grey, 8, SAMPLEFORMAT_INT, 0 }, { Kind::Grey, 16, SAMPLEFORMAT_INT, 0 },
        { Kind::Grey, 32, SAMPLEFORMAT_INT, 0 }, { Kind::Grey, 16, SAMPLEFORMAT_IEEEFP, 0 }, { Kind::Grey, 32, SAMPLEFORMAT_IEEEFP, 0 },
        { Kind::Grey, 64, SAMPLEFORMAT_IEEEFP, 0 }, { Kind::InvertedGrey, 1, SAMPLEFORMAT_UINT, 0 }, { Kind::InvertedGrey, 4, SAMPLEFORMAT_UINT, 0 },
        { Kind::InvertedGrey, 8, SAMPLEFORMAT_UINT, 0 }, { Kind::Grey, 8, SAMPLEFORMAT_UINT, EXTRASAMPLE_UNASSALPHA },
        { Kind::Grey, 16, SAMPLEFORMAT_UINT, EXTRASAMPLE_ASSOCALPHA }, { Kind::Grey, 32, SAMPLEFORMAT_IEEEFP, EXTRASAMPLE_ASSOCALPHA },
        { Kind::Rgb, 8, SAMPLEFORMAT_UINT, 0 }, { Kind::Rgb, 16, SAMPLEFORMAT_UINT, 0 }, { Kind::Rgb, 32, SAMPLEFORMAT_UINT, 0 },
        { Kind::Rgb, 64, SAMPLEFORMAT_UINT, 0 }, { Kind::Rgb, 8, SAMPLEFORMAT_INT, 0 }, { Kind::Rgb, 16, SAMPLEFORMAT_INT, 0 },
        { Kind::Rgb, 16, SAMPLEFORMAT_IEEEFP, 0 }, { Kind::Rgb, 32, SAMPLEFORMAT_IEEEFP, 0 }, { Kind::Rgb, 64, SAMPLEFORMAT_IEEEFP, 0 },
        { Kind::Rgb, 8, SAMPLEFORMAT_UINT, EXTRASAMPLE_UNASSALPHA }, { Kind::Rgb, 8, SAMPLEFORMAT_UINT, EXTRASAMPLE_ASSOCALPHA },
        { Kind::Rgb, 16, SAMPLEFORMAT_UINT, EXTRASAMPLE_UNASSALPHA }, { Kind::Rgb, 16, SAMPLEFORMAT_UINT, EXTRASAMPLE_ASSOCALPHA },
        { Kind::Rgb, 16, SAMPLEFORMAT_IEEEFP, EXTRASAMPLE_ASSOCALPHA }, { Kind::Rgb, 32, SAMPLEFORMAT_IEEEFP, EXTRASAMPLE_UNASSALPHA },
        { Kind::Rgb, 16, SAMPLEFORMAT_INT, EXTRASAMPLE_UNASSALPHA }, { Kind::Palette, 1, SAMPLEFORMAT_UINT, 0 },
        { Kind::Palette, 2, SAMPLEFORMAT_UINT, 0 }, { Kind::Palette, 4, SAMPLEFORMAT_UINT, 0 }, { Kind::Palette, 8, SAMPLEFORMAT_UINT, 0 },
        { Kind::Cmyk, 8, SAMPLEFORMAT_UINT, 0 }, { Kind::Cmyk, 16, SAMPLEFORMAT_UINT, 0 }, { Kind::YCbCr, 8, SAMPLEFORMAT_UINT, 0 },
    };
    std::vector<std::uint16_t> compressions { COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_PACKBITS };
    for (std::uint16_t extra : std::vector<std::uint16_t> { COMPRESSION_ZSTD, COMPRESSION_LZMA })
        if (codecAvailable(extra))
            compressions.push_back(extra);

    std::vector<Case> result;
    for (Sort const& sort : sorts) {
        for (int variant = 0; variant < 3; ++variant) {
            Case c { .kind = sort.kind, .bits = sort.bits, .format = sort.format, .alpha = sort.alpha };
            c.width = 1 + static_cast<int>(random() % 300);
            c.height = 1 + static_cast<int>(random() % 200);
            c.look = static_cast<Look>(random() % 3);
            c.compression = pick(compressions);
            bool const bilevel = c.bits == 1 && (c.kind == Kind::Grey || c.kind == Kind::InvertedGrey);
            if (bilevel && variant == 2)
                c.compression = pick(std::vector<std::uint16_t> { COMPRESSION_CCITTFAX3, COMPRESSION_CCITTFAX4 });
            bool const jpegFits = c.bits == 8 && c.format == SAMPLEFORMAT_UINT && !c.alpha
                && (c.kind == Kind::Grey || c.kind == Kind::Rgb || c.kind == Kind::YCbCr);
            if (jpegFits && variant == 1)
                c.compression = COMPRESSION_JPEG;
            if (c.compression == COMPRESSION_ADOBE_DEFLATE || c.compression == COMPRESSION_ZSTD || c.compression == COMPRESSION_LZMA)
                c.level = c.compression == COMPRESSION_LZMA ? pick(std::vector<int> { 0, 1, 2 }) : pick(std::vector<int> { -1, 1, 6, 9 });
            bool const predictable = c.bits == 8 || c.bits == 16 || c.bits == 32 || c.format == SAMPLEFORMAT_IEEEFP;
            c.predictor = predictable && c.kind != Kind::Palette && c.kind != Kind::YCbCr && c.bits <= 32
                && (c.compression == COMPRESSION_LZW || c.compression == COMPRESSION_ADOBE_DEFLATE || c.compression == COMPRESSION_ZSTD) && random() % 2;
            if (c.kind == Kind::YCbCr) {
                c.subsampling = pick(std::vector<int> { 1, 2, 4 });
                if (c.compression != COMPRESSION_JPEG && random() % 3 == 0)
                    c.tile = pick(std::vector<int> { 16, 32 });
                else if (c.compression != COMPRESSION_JPEG)
                    c.rowsPerStrip = pick(std::vector<int> { 0, 2, 8, 16 });
            } else if (random() % 3 == 0) {
                c.tile = pick(std::vector<int> { 16, 32, 64 });
            } else {
                c.rowsPerStrip = pick(std::vector<int> { 0, 1, 3, 16, 64 });
            }
            if (c.compression == COMPRESSION_JPEG && c.rowsPerStrip % 16 != 0 && !c.tile)
                c.rowsPerStrip = 16;
            c.separate = c.samples() > 1 && c.kind != Kind::Palette && c.kind != Kind::YCbCr && c.compression != COMPRESSION_JPEG && random() % 2;
            result.push_back(c);
        }
    }
    // Chroma in blocks that the picture's edges cut.
    result.push_back({ .width = 101, .height = 77, .kind = Kind::YCbCr, .compression = COMPRESSION_LZW, .subsampling = 4 });
    result.push_back({ .width = 99, .height = 45, .kind = Kind::YCbCr, .compression = COMPRESSION_NONE, .tile = 32, .subsampling = 4 });
    result.push_back({ .width = 51, .height = 33, .kind = Kind::YCbCr, .compression = COMPRESSION_ADOBE_DEFLATE, .rowsPerStrip = 8, .subsampling = 2 });
    // Large pages that compress to almost nothing.
    result.push_back({ .width = 4960, .height = 7016, .kind = Kind::InvertedGrey, .bits = 1, .compression = COMPRESSION_CCITTFAX4, .look = Look::Flat });
    result.push_back({ .width = 4960, .height = 7016, .kind = Kind::InvertedGrey, .bits = 1, .compression = COMPRESSION_CCITTFAX3, .rowsPerStrip = 128, .look = Look::Flat });
    result.push_back({ .width = 4000, .height = 4000, .compression = COMPRESSION_ADOBE_DEFLATE, .level = 9, .rowsPerStrip = 512, .look = Look::Flat });
    result.push_back({ .width = 2000, .height = 1500, .compression = COMPRESSION_LZW, .predictor = true, .tile = 256, .look = Look::Screenshot });
    if (codecAvailable(COMPRESSION_ZSTD))
        result.push_back({ .width = 4000, .height = 4000, .compression = COMPRESSION_ZSTD, .look = Look::Flat });
    if (codecAvailable(COMPRESSION_LZMA))
        result.push_back({ .width = 2000, .height = 2000, .compression = COMPRESSION_LZMA, .level = 1, .look = Look::Flat });
    return result;
}

TEST(TiffReference, GeneratedFilesOpenAsTheReferenceShowsThem)
{
    QTemporaryDir folder;
    std::mt19937 random(7);
    int compared = 0;
    for (Case const& c : cases()) {
        if (!codecAvailable(c.compression))
            continue;
        SCOPED_TRACE(c.describe());
        Pixels const pixels = content(c, random);
        String const path = folder.filePath("case.tif").toStdString();
        writeTiff(path, c, pixels);
        bool const exact = referenceIsExact(c);
        Pixels const expected = exact ? reference(path, c) : writtenContent(c, pixels);
        Ref<Picture> picture;
        {
            AddressSpaceLimit const bound(static_cast<long>(c.width * 4.0 * c.height / 1048576.0 * 1.25) + 64);
            picture = Picture::Open(FolderItem::forPath(path));
        }
        EXPECT_TRUE(holds(picture, c.width, c.height, expected, exact ? 0 : toleranceOf(c))) << (exact ? "against libtiff" : "against the content written");
        ++compared;
    }
    EXPECT_GE(compared, 100);
}

}
