// JPEG files written here with libjpeg: every kind opens as what was written
// (within the loss of the format), turned upright by its EXIF orientation;
// damaged ones give Nil.

#include "support/JpegFiles.h"

#include <gtest/gtest.h>

using namespace picture_files;
using namespace picture_files::jpeg;

namespace {

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
        { "CMYK without Adobe's marker, read as inverted too", { Kind::CmykWithoutMarker } },
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
        for (bool asLong : { false, true }) {
            for (int orientation = 1; orientation <= 8; ++orientation) {
                SCOPED_TRACE("orientation " + std::to_string(orientation) + (asLong ? " as a LONG" : " as a SHORT") + (kind == Kind::Progressive ? ", progressive" : ""));
                int uprightWidth = 0, uprightHeight = 0;
                Pixels const expected = upright(stored, width, height, orientation, uprightWidth, uprightHeight);
                Jpeg const turned { .kind = kind, .width = width, .height = height, .orientation = orientation, .orientationAsLong = asLong };
                Ref<Picture> picture = Picture::Open(writeFile(folder, "turned.jpg", encode(turned, stored)));
                EXPECT_TRUE(holds(picture, uprightWidth, uprightHeight, expected, Tolerance));
            }
        }
    }
}

TEST(JpegReader, StrayBytesBeforeAMarkerLeaveTheDataWhole)
{
    // The library warns of bytes it passes over on its way to a marker, and
    // decodes all the data; other decoders show such files as they are.
    QTemporaryDir folder;
    Pixels const pixels = blocks(64, 48);
    for (Kind kind : { Kind::Baseline, Kind::Progressive }) {
        Jpeg const jpeg { .kind = kind, .width = 64, .height = 48, .quality = 90, .restartInterval = kind == Kind::Baseline ? 2 : 0 };
        QByteArray const whole = encode(jpeg, pixels);
        Ref<Picture> const clean = Picture::Open(writeFile(folder, "clean.jpg", whole));
        ASSERT_TRUE(clean);
        std::vector<std::pair<String, qsizetype>> strays { { "before the scan", whole.indexOf("\xFF\xDA") },
            { "before the Huffman tables", whole.indexOf("\xFF\xC4") }, { "before the end", whole.size() - 2 } };
        if (kind == Kind::Baseline)
            strays.emplace_back("before the first restart marker", whole.indexOf("\xFF\xD0"));
        else
            strays.emplace_back("before the last scan", whole.lastIndexOf("\xFF\xDA"));
        for (auto const& [where, at] : strays) {
            SCOPED_TRACE(String(kind == Kind::Baseline ? "baseline, " : "progressive, ") + "a stray byte " + where);
            ASSERT_GT(at, 0);
            QByteArray bytes = whole;
            bytes.insert(at, '\x5A');
            EXPECT_TRUE(holds(Picture::Open(writeFile(folder, "stray.jpg", bytes)), 64, 48, pixelsOf(*clean)));
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
