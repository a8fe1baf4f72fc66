// The PNG, JPEG, GIF, BMP and Targa readers checked against reference
// decoders on a few hundred valid files made here, with sizes and settings
// picked by a seeded generator: each file opens pixel for pixel as libpng
// with zlib decodes it, as libjpeg-turbo decodes it, as giflib decodes it,
// or, for BMP and Targa, as the pixels the test wrote. Large flat and
// screenshot-like pictures, which compress to almost nothing, are among
// them. Every file opens within 1.25 times its picture's memory and 64 MiB.
//
// A failure names the seed and the case; VANTREL_REFERENCE_SEED runs the
// test with another seed.

#include "support/BmpFiles.h"
#include "support/GifFiles.h"
#include "support/JpegFiles.h"
#include "support/PngFiles.h"
#include "support/TargaFiles.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstring>
#include <functional>
#include <random>
#include <string>

using namespace picture_files;

namespace {

// Under the sanitizers everything runs several times slower: fewer and
// smaller large pictures there.
#if defined(__SANITIZE_ADDRESS__)
constexpr int LargeDivisor = 2;
#else
constexpr int LargeDivisor = 1;
#endif

unsigned seedOfRun()
{
    QByteArray const given = qgetenv("VANTREL_REFERENCE_SEED");
    return given.isEmpty() ? 20261210u : static_cast<unsigned>(given.toULong());
}

// The generator of one format's cases, with the seed it started from.
class Dice {
public:
    explicit Dice(unsigned salt)
        : m_random(seedOfRun() + salt)
    {
    }
    int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }
    bool chance(double p) { return std::bernoulli_distribution(p)(m_random); }
    unsigned next() { return static_cast<unsigned>(m_random()); }
    template <class T>
    T pick(std::initializer_list<T> choices) { return choices.begin()[between(0, static_cast<int>(choices.size()) - 1)]; }

private:
    std::mt19937 m_random;
};

struct Decoded {
    int width = 0;
    int height = 0;
    Pixels pixels;
};

// Opens the file within 1.25 times its picture and 64 MiB, and compares it
// with the reference's pixels.
::testing::AssertionResult opensAs(QTemporaryDir const& folder, String const& name, QByteArray const& bytes, Decoded const& reference)
{
    if (reference.pixels.empty())
        return ::testing::AssertionFailure() << "the reference did not decode the file";
    Ref<FolderItem> const file = writeFile(folder, name, bytes);
    Ref<Picture> picture;
    Ref<RuntimeException> raised;
    {
        double const pictureMiB = 4.0 * reference.width * reference.height / 1048576.0;
        AddressSpaceLimit const bound(static_cast<long>(pictureMiB * 1.25) + 64);
        raised = raisedBy([&] { picture = Picture::Open(file); });
    }
    if (raised)
        return ::testing::AssertionFailure() << "raised " << raised->classRecord().name << ": " << raised->Message;
    return holds(picture, reference.width, reference.height, reference.pixels);
}

// What a case is, for the failure message: the run's seed and the case's
// number in its test give it again.
String described(int index, String const& what)
{
    return "seed " + std::to_string(seedOfRun()) + ", case " + std::to_string(index) + ": " + what;
}

String sizeText(int width, int height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

// ---- Content ---------------------------------------------------------------

enum class Look { Noise, Flat, Screenshot, Gradient };

char const* nameOf(Look look)
{
    switch (look) {
    case Look::Noise: return "noise";
    case Look::Flat: return "flat";
    case Look::Screenshot: return "screenshot";
    default: return "gradient";
    }
}

// Values below `limit` for width x height x channels samples: random ones,
// one value a channel, a screenshot's few colours in panels with lines of
// short strokes like text, or a smooth ramp.
std::vector<std::uint32_t> samplesLike(Look look, int width, int height, int channels, std::uint32_t limit, Dice& dice)
{
    std::vector<std::uint32_t> samples(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * static_cast<std::size_t>(channels));
    std::uint32_t colours[3][4];
    for (auto& colour : colours)
        for (auto& value : colour)
            value = dice.next() % limit;
    int const panelWidth = dice.between(40, 400), panelHeight = dice.between(30, 300);
    std::uint32_t const step = std::max<std::uint32_t>(1, limit / 512);
    std::size_t at = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int const which = (x / panelWidth + y / panelHeight) % 3 == 0 ? 1 : 0;
            bool const stroke = y % 14 >= 4 && y % 14 < 10 && x % 9 < 6 && ((static_cast<std::uint32_t>(x / 9 + y / 14 * 131) * 2654435761u) >> 29) % 3 == 0;
            for (int c = 0; c < channels; ++c, ++at) {
                switch (look) {
                case Look::Noise: samples[at] = dice.next() % limit; break;
                case Look::Flat: samples[at] = colours[0][c]; break;
                case Look::Screenshot: samples[at] = colours[stroke ? 2 : which][c]; break;
                case Look::Gradient: samples[at] = (static_cast<std::uint32_t>(x * (c + 1) + y * (3 - c % 3)) * step) % limit; break;
                }
            }
        }
    }
    return samples;
}

// ---- PNG -------------------------------------------------------------------

Decoded decodedByLibpng(QByteArray const& bytes)
{
    struct Source {
        QByteArray const* bytes;
        std::size_t at = 0;
    } source { &bytes };
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_byte> image;
    std::vector<png_bytep> rows;
    Decoded decoded;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return {};
    }
    png_set_read_fn(png, &source, [](png_structp p, png_bytep data, png_size_t size) {
        auto* from = static_cast<Source*>(png_get_io_ptr(p));
        if (from->at + size > static_cast<std::size_t>(from->bytes->size()))
            png_error(p, "the file ends early");
        std::memcpy(data, from->bytes->constData() + from->at, size);
        from->at += size;
    });
    png_read_info(png, info);
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    int const width = static_cast<int>(png_get_image_width(png, info));
    int const height = static_cast<int>(png_get_image_height(png, info));
    std::size_t const rowBytes = png_get_rowbytes(png, info);
    image.resize(rowBytes * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        rows.push_back(image.data() + rowBytes * static_cast<std::size_t>(y));
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    decoded.width = width;
    decoded.height = height;
    for (std::size_t i = 0; i + 3 < image.size(); i += 4)
        decoded.pixels.push_back(std::uint32_t { image[i + 3] } << 24 | std::uint32_t { image[i] } << 16 | std::uint32_t { image[i + 1] } << 8 | image[i + 2]);
    return decoded;
}

struct PngKind {
    int colourType;
    int depth;
};

enum class Scale { Small, Medium, Large };

// Small pictures of every kind and look; large ones of the common kinds,
// flat or like a screenshot, whose data inflates a thousandfold; and flat
// ones whose rows of 1 KiB end the data a row or two past a multiple of 32
// KiB, where an inflater's buffers end.
png::PngImage pngCase(Dice& dice, Scale scale, String& what)
{
    using png::PngImage;
    static constexpr PngKind kinds[] = {
        { PNG_COLOR_TYPE_GRAY, 1 }, { PNG_COLOR_TYPE_GRAY, 2 }, { PNG_COLOR_TYPE_GRAY, 4 }, { PNG_COLOR_TYPE_GRAY, 8 }, { PNG_COLOR_TYPE_GRAY, 16 },
        { PNG_COLOR_TYPE_RGB, 8 }, { PNG_COLOR_TYPE_RGB, 16 }, { PNG_COLOR_TYPE_PALETTE, 1 }, { PNG_COLOR_TYPE_PALETTE, 2 },
        { PNG_COLOR_TYPE_PALETTE, 4 }, { PNG_COLOR_TYPE_PALETTE, 8 }, { PNG_COLOR_TYPE_GRAY_ALPHA, 8 }, { PNG_COLOR_TYPE_GRAY_ALPHA, 16 },
        { PNG_COLOR_TYPE_RGB_ALPHA, 8 }, { PNG_COLOR_TYPE_RGB_ALPHA, 16 },
    };
    PngImage image;
    bool const large = scale != Scale::Small;
    PngKind const kind = scale == Scale::Medium ? dice.pick<PngKind>({ { PNG_COLOR_TYPE_GRAY, 8 }, { PNG_COLOR_TYPE_RGB, 8 }, { PNG_COLOR_TYPE_PALETTE, 8 } })
        : large                               ? dice.pick<PngKind>({ { PNG_COLOR_TYPE_RGB_ALPHA, 8 }, { PNG_COLOR_TYPE_RGB, 8 }, { PNG_COLOR_TYPE_GRAY, 8 }, { PNG_COLOR_TYPE_PALETTE, 8 }, { PNG_COLOR_TYPE_RGB_ALPHA, 16 } })
                               : kinds[dice.between(0, static_cast<int>(std::size(kinds)) - 1)];
    image.colourType = kind.colourType;
    image.depth = kind.depth;
    if (scale == Scale::Large) {
        image.width = dice.between(600 / LargeDivisor, 2600 / LargeDivisor);
        image.height = dice.between(200 / LargeDivisor, 1400 / LargeDivisor);
    } else if (scale == Scale::Medium) {
        image.width = kind.colourType == PNG_COLOR_TYPE_RGB ? 341 : 1023;
        image.height = 32 * dice.between(8, 80) + dice.between(1, 2);
    } else {
        image.width = dice.chance(0.1) ? dice.between(1, 3) : dice.between(1, 300);
        image.height = dice.chance(0.1) ? dice.between(1, 3) : dice.between(1, 200);
    }
    image.interlaced = scale != Scale::Medium && dice.chance(large ? 0.15 : 0.35);
    image.compression = scale == Scale::Medium ? dice.pick<int>({ 8, 9 }) : dice.between(0, 9);
    image.idatBytes = static_cast<std::size_t>(dice.pick<int>({ 0, 0, dice.between(1, 200), dice.between(1000, 9000), 65536, 1 << 20 }));
    image.filters = dice.pick<int>({ 0, PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH, PNG_ALL_FILTERS });
    Look const look = scale == Scale::Medium ? Look::Flat : large ? dice.pick<Look>({ Look::Flat, Look::Flat, Look::Screenshot }) : dice.pick<Look>({ Look::Noise, Look::Flat, Look::Screenshot, Look::Gradient });
    bool const palette = kind.colourType == PNG_COLOR_TYPE_PALETTE;
    std::uint32_t const limit = 1u << kind.depth;
    image.samples = samplesLike(look, image.width, image.height, image.channels(), limit, dice);
    bool transparency = scale != Scale::Medium && dice.chance(0.3) && kind.colourType != PNG_COLOR_TYPE_GRAY_ALPHA && kind.colourType != PNG_COLOR_TYPE_RGB_ALPHA;
    if (palette) {
        for (std::uint32_t i = 0; i < limit; ++i)
            image.palette.push_back(png_color { static_cast<png_byte>(dice.next()), static_cast<png_byte>(dice.next()), static_cast<png_byte>(dice.next()) });
        if (transparency)
            for (int i = dice.between(1, static_cast<int>(limit)); i > 0; --i)
                image.paletteAlpha.push_back(static_cast<png_byte>(dice.next()));
    } else if (transparency) {
        // A colour that the picture holds, so that some pixels are clear.
        png_color_16 colour {};
        std::size_t const at = static_cast<std::size_t>(dice.next() % static_cast<unsigned>(image.width * image.height)) * static_cast<std::size_t>(image.channels());
        colour.gray = colour.red = static_cast<png_uint_16>(image.samples[at]);
        if (image.channels() >= 3) {
            colour.green = static_cast<png_uint_16>(image.samples[at + 1]);
            colour.blue = static_cast<png_uint_16>(image.samples[at + 2]);
        }
        image.transparentColour = colour;
    }
    what = sizeText(image.width, image.height) + " " + nameOf(look) + ", colour type " + std::to_string(kind.colourType) + " of "
        + std::to_string(kind.depth) + " bits" + (transparency ? " with tRNS" : "") + (image.interlaced ? ", interlaced" : "")
        + ", level " + std::to_string(image.compression) + ", IDAT of " + std::to_string(image.idatBytes) + ", filters " + std::to_string(image.filters);
    return image;
}

TEST(ReferenceDecode, PngOpensAsLibpngDecodesIt)
{
    QTemporaryDir folder;
    Dice dice(1);
    int const small = 140, medium = 80, large = 16 / LargeDivisor;
    for (int i = 0; i < small + medium + large; ++i) {
        String what;
        png::PngImage const image = pngCase(dice, i < small ? Scale::Small : i < small + medium ? Scale::Medium : Scale::Large, what);
        SCOPED_TRACE(described(i, what));
        QByteArray const bytes = png::encode(image);
        EXPECT_TRUE(opensAs(folder, "case.png", bytes, decodedByLibpng(bytes)));
    }
}

// ---- JPEG ------------------------------------------------------------------

struct JpegFailure {
    jpeg_error_mgr manager {};
    std::jmp_buf failed {};
};

// libjpeg-turbo's own output, CMYK taken as inverted and turned to colour
// as the common decoders do, then turned upright.
Decoded decodedByLibjpeg(QByteArray const& bytes, int orientation)
{
    jpeg_decompress_struct info {};
    JpegFailure errors;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = [](j_common_ptr common) { std::longjmp(reinterpret_cast<JpegFailure*>(common->err)->failed, 1); };
    errors.manager.output_message = [](j_common_ptr) { };
    jpeg_create_decompress(&info);
    std::vector<unsigned char> row;
    Pixels stored;
    if (setjmp(errors.failed)) {
        jpeg_destroy_decompress(&info);
        return {};
    }
    jpeg_mem_src(&info, reinterpret_cast<unsigned char const*>(bytes.constData()), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    bool const cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(&info);
    int const width = static_cast<int>(info.output_width), height = static_cast<int>(info.output_height);
    row.resize(static_cast<std::size_t>(width) * 4);
    while (info.output_scanline < info.output_height) {
        JSAMPROW target = row.data();
        jpeg_read_scanlines(&info, &target, 1);
        for (int x = 0; x < width; ++x) {
            unsigned char const* p = &row[static_cast<std::size_t>(x) * 4];
            if (cmyk) {
                std::uint32_t const k = p[3];
                stored.push_back(0xFF000000u | (p[0] * k + 127) / 255 << 16 | (p[1] * k + 127) / 255 << 8 | (p[2] * k + 127) / 255);
            } else {
                stored.push_back(std::uint32_t { p[3] } << 24 | std::uint32_t { p[2] } << 16 | std::uint32_t { p[1] } << 8 | p[0]);
            }
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    Decoded decoded;
    decoded.pixels = upright(stored, width, height, orientation ? orientation : 1, decoded.width, decoded.height);
    return decoded;
}

// Pixels of the look, as ARGB words.
Pixels pixelsLike(Look look, int width, int height, Dice& dice)
{
    std::vector<std::uint32_t> const samples = samplesLike(look, width, height, 3, 256, dice);
    Pixels pixels;
    for (std::size_t i = 0; i + 2 < samples.size(); i += 3)
        pixels.push_back(0xFF000000u | samples[i] << 16 | samples[i + 1] << 8 | samples[i + 2]);
    return pixels;
}

TEST(ReferenceDecode, JpegOpensAsLibjpegDecodesIt)
{
    using jpeg::Jpeg;
    using jpeg::Kind;
    QTemporaryDir folder;
    Dice dice(2);
    int const small = 80, large = 6 / LargeDivisor;
    for (int i = 0; i < small + large; ++i) {
        bool const isLarge = i >= small;
        Jpeg jpeg;
        jpeg.kind = dice.pick<Kind>({ Kind::Baseline, Kind::Baseline, Kind::Progressive, Kind::Grey, Kind::CmykAdobe, Kind::CmykWithoutMarker });
        jpeg.progressive = jpeg.kind != Kind::Baseline && dice.chance(0.4);
        jpeg.width = isLarge ? dice.between(1000 / LargeDivisor, 3000 / LargeDivisor) : dice.between(1, 260);
        jpeg.height = isLarge ? dice.between(800 / LargeDivisor, 2000 / LargeDivisor) : dice.between(1, 200);
        jpeg.quality = dice.between(30, 100);
        jpeg.lumaH = dice.pick<int>({ 1, 2, 2, 4 });
        jpeg.lumaV = jpeg.lumaH == 4 ? 1 : dice.pick<int>({ 1, 2 });
        jpeg.restartInterval = dice.pick<int>({ 0, 0, 1, 3, 17 });
        jpeg.orientation = dice.chance(0.3) ? dice.between(1, 8) : 0;
        jpeg.orientationAsLong = dice.chance(0.5);
        Look const look = isLarge ? dice.pick<Look>({ Look::Flat, Look::Screenshot }) : dice.pick<Look>({ Look::Noise, Look::Flat, Look::Screenshot, Look::Gradient });
        SCOPED_TRACE(described(i, sizeText(jpeg.width, jpeg.height) + " " + nameOf(look) + ", kind " + std::to_string(static_cast<int>(jpeg.kind))
            + (jpeg.progressive ? " progressive" : "") + ", quality " + std::to_string(jpeg.quality) + ", luma sampled " + std::to_string(jpeg.lumaH) + "x"
            + std::to_string(jpeg.lumaV) + ", restart every " + std::to_string(jpeg.restartInterval) + ", orientation " + std::to_string(jpeg.orientation)
            + (jpeg.orientationAsLong ? " as a LONG" : "")));
        QByteArray const bytes = jpeg::encode(jpeg, pixelsLike(look, jpeg.width, jpeg.height, dice));
        EXPECT_TRUE(opensAs(folder, "case.jpg", bytes, decodedByLibjpeg(bytes, jpeg.orientation)));
    }
}

// ---- GIF -------------------------------------------------------------------

// The first frame as giflib reads it, on a clear canvas of the screen's
// size, its transparent colour clear.
Decoded decodedByGiflib(QByteArray const& bytes)
{
    struct Source {
        QByteArray const* bytes;
        int at = 0;
    } source { &bytes };
    int error = 0;
    GifFileType* file = DGifOpen(&source, [](GifFileType* gif, GifByteType* into, int count) {
        auto* from = static_cast<Source*>(gif->UserData);
        int const taken = std::min(count, static_cast<int>(from->bytes->size()) - from->at);
        std::memcpy(into, from->bytes->constData() + from->at, static_cast<std::size_t>(taken));
        from->at += taken;
        return taken;
    }, &error);
    if (!file)
        return {};
    Decoded decoded;
    if (DGifSlurp(file) == GIF_OK && file->ImageCount > 0) {
        SavedImage const& frame = file->SavedImages[0];
        ColorMapObject const* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : file->SColorMap;
        GraphicsControlBlock control {};
        control.TransparentColor = NO_TRANSPARENT_COLOR;
        DGifSavedExtensionToGCB(file, 0, &control);
        decoded.width = file->SWidth;
        decoded.height = file->SHeight;
        decoded.pixels.assign(static_cast<std::size_t>(decoded.width * decoded.height), 0);
        GifImageDesc const& place = frame.ImageDesc;
        for (int y = 0; y < place.Height; ++y) {
            for (int x = 0; x < place.Width; ++x) {
                int const index = frame.RasterBits[y * place.Width + x];
                GifColorType const colour = map->Colors[index];
                std::uint32_t const alpha = index == control.TransparentColor ? 0 : 0xFF;
                decoded.pixels[static_cast<std::size_t>((place.Top + y) * decoded.width + place.Left + x)]
                    = alpha << 24 | std::uint32_t { colour.Red } << 16 | std::uint32_t { colour.Green } << 8 | colour.Blue;
            }
        }
    }
    DGifCloseFile(file, &error);
    return decoded;
}

TEST(ReferenceDecode, GifOpensAsGiflibDecodesIt)
{
    using gif::Gif;
    QTemporaryDir folder;
    Dice dice(3);
    int const small = 50, large = 4 / LargeDivisor;
    for (int i = 0; i < small + large; ++i) {
        bool const isLarge = i >= small;
        Gif gif;
        gif.screenWidth = isLarge ? dice.between(1200 / LargeDivisor, 3000 / LargeDivisor) : dice.between(1, 300);
        gif.screenHeight = isLarge ? dice.between(800 / LargeDivisor, 2000 / LargeDivisor) : dice.between(1, 200);
        gif.width = dice.chance(0.6) ? gif.screenWidth : dice.between(1, gif.screenWidth);
        gif.height = dice.chance(0.6) ? gif.screenHeight : dice.between(1, gif.screenHeight);
        gif.left = dice.between(0, gif.screenWidth - gif.width);
        gif.top = dice.between(0, gif.screenHeight - gif.height);
        gif.interlaced = dice.chance(0.3);
        gif.colours = isLarge ? dice.pick<int>({ 1, 2 }) : dice.pick<int>({ 1, 2, 16, 40, 256 });
        gif.transparent = dice.chance(0.3) ? dice.between(0, gif.colours - 1) : -1;
        gif.localColours = dice.chance(0.3);
        gif.secondFrame = dice.chance(0.2);
        gif.seed = dice.next() | 1;
        SCOPED_TRACE(described(i, "screen " + sizeText(gif.screenWidth, gif.screenHeight) + ", frame " + sizeText(gif.width, gif.height) + " at "
            + std::to_string(gif.left) + ", " + std::to_string(gif.top) + ", " + std::to_string(gif.colours) + " colours"
            + (gif.interlaced ? ", interlaced" : "") + (gif.transparent >= 0 ? ", transparent " + std::to_string(gif.transparent) : String())
            + (gif.localColours ? ", local colours" : "") + (gif.secondFrame ? ", a second frame" : "")));
        QByteArray const bytes = gif::encode(gif);
        EXPECT_TRUE(opensAs(folder, "case.gif", bytes, decodedByGiflib(bytes)));
    }
}

// ---- BMP and Targa ---------------------------------------------------------

TEST(ReferenceDecode, BmpOpensAsWritten)
{
    using namespace bmp;
    QTemporaryDir folder;
    Dice dice(4);
    std::array<std::uint32_t, 4> const fields565 { 0xF800, 0x07E0, 0x001F, 0 }, fields888 { 0xFF0000, 0xFF00, 0xFF, 0 },
        fieldsWithAlpha { 0xFF0000, 0xFF00, 0xFF, 0xFF000000 }, fields4444 { 0x0F00, 0x00F0, 0x000F, 0xF000 };
    Bmp const kinds[] = {
        { .depth = 1 }, { .depth = 4 }, { .depth = 8 }, { .depth = 8, .infoBytes = 12 }, { .depth = 24, .infoBytes = 12 },
        { .depth = 4, .compression = Rle4 }, { .depth = 8, .compression = Rle8 }, { .depth = 16 },
        { .depth = 16, .compression = BitFields, .masks = fields565 }, { .depth = 16, .compression = BitFields, .infoBytes = 108, .masks = fields4444 },
        { .depth = 24 }, { .depth = 32 }, { .depth = 32, .compression = BitFields, .masks = fields888 },
        { .depth = 32, .compression = BitFields, .infoBytes = 108, .masks = fieldsWithAlpha },
        { .depth = 32, .compression = BitFields, .infoBytes = 124, .masks = fieldsWithAlpha },
    };
    for (int i = 0; i < 60; ++i) {
        Bmp bmp = kinds[dice.between(0, static_cast<int>(std::size(kinds)) - 1)];
        bmp.width = dice.chance(0.1) ? dice.between(1, 3) : dice.between(1, 300);
        bmp.height = dice.chance(0.1) ? dice.between(1, 3) : dice.between(1, 200);
        bmp.topDown = bmp.infoBytes != 12 && bmp.compression != Rle4 && bmp.compression != Rle8 && dice.chance(0.3);
        bmp.seed = dice.next() | 1;
        SCOPED_TRACE(described(i, sizeText(bmp.width, bmp.height) + ", " + std::to_string(bmp.depth) + " bits, compression "
            + std::to_string(bmp.compression) + ", header of " + std::to_string(bmp.infoBytes) + (bmp.topDown ? ", top-down" : "")));
        Content const content = contentOf(bmp);
        EXPECT_TRUE(opensAs(folder, "case.bmp", encode(bmp, content), { bmp.width, bmp.height, content.expected }));
    }
}

TEST(ReferenceDecode, TargaOpensAsWritten)
{
    using namespace targa;
    QTemporaryDir folder;
    Dice dice(5);
    for (int i = 0; i < 60; ++i) {
        Targa t;
        t.type = dice.pick<int>({ 1, 2, 3, 9, 10, 11 });
        t.depth = t.type == 3 || t.type == 11 ? dice.pick<int>({ 8, 16 }) : dice.pick<int>({ 15, 16, 24, 32 });
        t.topDown = dice.chance(0.4);
        t.footer = dice.chance(0.5);
        t.width = dice.chance(0.1) ? dice.between(1, 3) : dice.between(1, 300);
        t.height = dice.chance(0.1) ? dice.between(1, 3) : dice.between(1, 200);
        t.seed = dice.next() | 1;
        SCOPED_TRACE(described(i, sizeText(t.width, t.height) + ", type " + std::to_string(t.type) + " of " + std::to_string(t.depth) + " bits"
            + (t.topDown ? ", top-down" : "") + (t.footer ? ", with the footer" : "")));
        Decoded written { t.width, t.height, {} };
        QByteArray const bytes = encode(t, written.pixels);
        EXPECT_TRUE(opensAs(folder, "case.tga", bytes, written));
    }
}

}
