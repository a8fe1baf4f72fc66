// JPEG files written here with libjpeg: every kind opens as what was written
// (within the loss of the format), turned upright by its EXIF orientation;
// damaged ones give Nil.

#include "support/PictureFiles.h"

#include <cstdio>
#include <jpeglib.h>

#include <gtest/gtest.h>

using namespace picture_files;

namespace {

// Blocks of 16 x 16 pixels of one colour each survive even halved chroma
// and quantisation almost unchanged.
constexpr int Block = 16;
constexpr std::uint32_t BlockColours[] {
    0xFFE02010, 0xFF20C040, 0xFF3050E0, 0xFFF0F0F0, 0xFF101010, 0xFF808080, 0xFFC86432, 0xFF00C8C8,
    0xFFFF8000, 0xFF602080, 0xFF285078, 0xFFA0A000, 0xFF40F0A0, 0xFF800000, 0xFF0080FF,
};

Pixels blocks(int width, int height)
{
    Pixels pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels.push_back(BlockColours[static_cast<std::size_t>((y / Block) * (width / Block) + x / Block) % std::size(BlockColours)]);
    return pixels;
}

std::uint32_t channel(std::uint32_t pixel, int shift) { return (pixel >> shift) & 0xFF; }

// The grey that a JPEG encoder makes of a colour: its luma.
std::uint32_t greyOf(std::uint32_t pixel)
{
    double const y = 0.299 * channel(pixel, 16) + 0.587 * channel(pixel, 8) + 0.114 * channel(pixel, 0);
    auto const v = static_cast<std::uint32_t>(y + 0.5);
    return 0xFF000000u | v << 16 | v << 8 | v;
}

enum class Kind { Baseline, Progressive, Grey, CmykAdobe, CmykPlain };

struct Jpeg {
    Kind kind = Kind::Baseline;
    int width = 48;
    int height = 32;
    int orientation = 0; // 0: no EXIF block
    bool halvedChroma = false;
};

QByteArray exifWithOrientation(int orientation)
{
    // A big-endian TIFF structure with one directory of one entry.
    unsigned char const block[] { 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1,
        0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, static_cast<unsigned char>(orientation), 0, 0, 0, 0, 0, 0 };
    return QByteArray(reinterpret_cast<char const*>(block), sizeof block);
}

QByteArray encode(Jpeg const& jpeg, Pixels const& pixels)
{
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_compress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(jpeg.width);
    info.image_height = static_cast<JDIMENSION>(jpeg.height);
    bool const cmyk = jpeg.kind == Kind::CmykAdobe || jpeg.kind == Kind::CmykPlain;
    info.input_components = jpeg.kind == Kind::Grey ? 1 : cmyk ? 4 : 3;
    info.in_color_space = jpeg.kind == Kind::Grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    if (!jpeg.halvedChroma)
        for (int i = 0; i < info.num_components; ++i)
            info.comp_info[i].h_samp_factor = info.comp_info[i].v_samp_factor = 1;
    if (jpeg.kind == Kind::Progressive)
        jpeg_simple_progression(&info);
    if (jpeg.kind == Kind::CmykPlain)
        info.write_Adobe_marker = FALSE;
    jpeg_start_compress(&info, TRUE);
    if (jpeg.orientation) {
        QByteArray const exif = exifWithOrientation(jpeg.orientation);
        jpeg_write_marker(&info, JPEG_APP0 + 1, reinterpret_cast<JOCTET const*>(exif.constData()), static_cast<unsigned>(exif.size()));
    }
    std::vector<unsigned char> row(static_cast<std::size_t>(jpeg.width * info.input_components));
    for (int y = 0; y < jpeg.height; ++y) {
        for (int x = 0; x < jpeg.width; ++x) {
            std::uint32_t const pixel = pixels[static_cast<std::size_t>(y * jpeg.width + x)];
            unsigned char* out = &row[static_cast<std::size_t>(x * info.input_components)];
            std::uint32_t const r = channel(pixel, 16), g = channel(pixel, 8), b = channel(pixel, 0);
            if (jpeg.kind == Kind::Grey) {
                out[0] = static_cast<unsigned char>(channel(greyOf(pixel), 0));
            } else if (cmyk) {
                // No black ink: the colour is all in C, M and Y. Adobe's
                // files hold each ink inverted.
                unsigned char const inks[4] { static_cast<unsigned char>(255 - r), static_cast<unsigned char>(255 - g), static_cast<unsigned char>(255 - b), 0 };
                for (int i = 0; i < 4; ++i)
                    out[i] = jpeg.kind == Kind::CmykAdobe ? static_cast<unsigned char>(255 - inks[i]) : inks[i];
            } else {
                out[0] = static_cast<unsigned char>(r), out[1] = static_cast<unsigned char>(g), out[2] = static_cast<unsigned char>(b);
            }
        }
        JSAMPROW rows[] { row.data() };
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<char const*>(buffer), static_cast<qsizetype>(size));
    std::free(buffer);
    return bytes;
}

// The loss of quantisation at quality 100 and of the colour conversions.
constexpr int Tolerance = 4;

TEST(JpegReader, EveryKindOpensAsWritten)
{
    struct Case {
        char const* name;
        Jpeg jpeg;
    } const cases[] = {
        { "baseline", { Kind::Baseline } },
        { "baseline, chroma halved", { Kind::Baseline, 48, 32, 0, true } },
        { "progressive", { Kind::Progressive } },
        { "greyscale", { Kind::Grey } },
        { "CMYK, inverted with Adobe's marker", { Kind::CmykAdobe } },
        { "CMYK, plain", { Kind::CmykPlain } },
        { "with an EXIF block that keeps it as stored", { Kind::Baseline, 48, 32, 1 } },
    };
    QTemporaryDir folder;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        Pixels const pixels = blocks(c.jpeg.width, c.jpeg.height);
        Pixels expected = pixels;
        if (c.jpeg.kind == Kind::Grey)
            std::transform(pixels.begin(), pixels.end(), expected.begin(), greyOf);
        Ref<Picture> picture = Picture::Open(writeFile(folder, "kind.jpg", encode(c.jpeg, pixels)));
        if (picture && c.jpeg.halvedChroma) {
            // Halved chroma is smoothed back up, so the pixels along the
            // blocks' edges mix the colours of both sides: only the others
            // are compared.
            Pixels const actual = pixelsOf(*picture);
            for (std::size_t i = 0; i < expected.size() && i < actual.size(); ++i) {
                int const x = static_cast<int>(i) % c.jpeg.width % Block, y = static_cast<int>(i) / c.jpeg.width % Block;
                if (x == 0 || x == Block - 1 || y == 0 || y == Block - 1)
                    expected[i] = actual[i];
            }
        }
        EXPECT_TRUE(holds(picture, c.jpeg.width, c.jpeg.height, expected, Tolerance));
    }
}

TEST(JpegReader, EveryExifOrientationOpensUpright)
{
    QTemporaryDir folder;
    // Taller than the rows held back for a quarter turn, so several bands
    // are placed.
    int const width = 48;
    int const height = 160;
    Pixels const stored = blocks(width, height);
    for (Kind kind : { Kind::Baseline, Kind::Progressive }) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE("orientation " + std::to_string(orientation) + (kind == Kind::Progressive ? ", progressive" : ""));
            int uprightWidth = 0, uprightHeight = 0;
            Pixels const expected = upright(stored, width, height, orientation, uprightWidth, uprightHeight);
            Ref<Picture> picture = Picture::Open(writeFile(folder, "turned.jpg", encode({ kind, width, height, orientation }, stored)));
            EXPECT_TRUE(holds(picture, uprightWidth, uprightHeight, expected, Tolerance));
        }
    }
}

// The offset of the frame header's height, after its marker, length and
// precision.
qsizetype frameSizeAt(QByteArray const& bytes)
{
    qsizetype const frame = std::max(bytes.indexOf("\xFF\xC0"), bytes.indexOf("\xFF\xC2"));
    return frame < 0 ? -1 : frame + 5;
}

QByteArray withFrameSize(QByteArray bytes, int width, int height)
{
    qsizetype const at = frameSizeAt(bytes);
    bytes[at] = static_cast<char>(height >> 8);
    bytes[at + 1] = static_cast<char>(height);
    bytes[at + 2] = static_cast<char>(width >> 8);
    bytes[at + 3] = static_cast<char>(width);
    return bytes;
}

TEST(JpegReader, DamagedFilesGiveNil)
{
    QTemporaryDir folder;
    Pixels const pixels = blocks(48, 32);
    QByteArray const baseline = encode({ Kind::Baseline, 48, 32, 6 }, pixels);
    QByteArray const progressive = encode({ Kind::Progressive }, pixels);
    ASSERT_TRUE(Picture::Open(writeFile(folder, "whole.jpg", baseline)));
    ASSERT_GE(frameSizeAt(baseline), 0);

    std::vector<std::pair<String, QByteArray>> damaged;
    addCuts(damaged, baseline, "baseline");
    addCuts(damaged, progressive, "progressive");
    damaged.emplace_back("16384 x 16384 claimed", withFrameSize(baseline, 16384, 16384));
    damaged.emplace_back("progressive, 16384 x 16384 claimed", withFrameSize(progressive, 16384, 16384));
    damaged.emplace_back("65535 x 65535 claimed", withFrameSize(baseline, 65535, 65535));
    damaged.emplace_back("twice as high claimed", withFrameSize(baseline, 48, 64));
    damaged.emplace_back("zero width", withFrameSize(baseline, 0, 32));
    damaged.emplace_back("zero height", withFrameSize(baseline, 48, 0));
    // The 159 bytes of a file that is all header: the frame claims 16384 x
    // 16384, the data stops right after the start of the scan.
    QByteArray const header = withFrameSize(baseline, 16384, 16384);
    damaged.emplace_back("all header", header.left(header.indexOf("\xFF\xDA") + 14));
    QByteArray garbled = baseline;
    qsizetype const scan = baseline.indexOf("\xFF\xDA");
    for (qsizetype i = scan + 20; i < baseline.size() - 2; i += 7)
        garbled[i] = static_cast<char>(0xFF);
    damaged.emplace_back("scan data garbled", garbled);
    expectEachGivesNil(folder, "damaged.jpg", damaged);
}

}
