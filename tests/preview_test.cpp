#include "runtime/BackgroundTask.h"
#include "runtime/Graphics.h"
#include "runtime/Numbers.h"
#include "runtime/RGBSurface.h"
#include "runtime/ReducedCopy.h"
#include "support/MainWindow.h"

#include <QPainter>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <set>
#include <vector>

// What the three canvases show of a picture, in device pixels: this binary
// runs once as it is and once on a screen scaled 2x.
namespace {

// Stripes a few pixels wide across and down, and single-pixel speckles:
// detail that a point sample turns into false bands and sparkles. A partly
// clear picture has clear, half and opaque stretches, and its clear pixels
// carry a loud green that must never show.
Ref<Picture> fineDetail(int width, int height, bool partlyClear)
{
    Ref<Picture> picture = Picture::create(width, height);
    Ref<RGBSurface> surface = picture->RGBSurface();
    for (int y = 0; y < height; ++y) {
        std::uint32_t* row = surface->scanline(y);
        for (int x = 0; x < width; ++x) {
            std::uint32_t const hash = static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u;
            bool const speckle = hash % 61 == 0;
            std::uint32_t const red = speckle ? 255 : (x / 3) % 2 ? 230 : 20;
            std::uint32_t const green = speckle ? 255 : (y / 2) % 3 ? 40 : 210;
            std::uint32_t const blue = speckle ? 255 : ((x + y) / 4) % 2 ? 160 : 60;
            std::uint32_t alpha = 255;
            if (partlyClear)
                alpha = std::array<std::uint32_t, 4> { 0, 90, 180, 255 }[(x / 5 + y / 7) % 4];
            row[x] = alpha == 0 ? 0x0000FF00u : alpha << 24 | red << 16 | green << 8 | blue;
        }
    }
    return picture;
}

// Where the paint handlers put a picture on a 240 x 160 canvas, in points.
QRect placed(Picture const& picture, QSize canvas)
{
    double const width = canvas.width();
    double const height = canvas.height();
    double const scale = std::min(width / picture.Width(), height / picture.Height());
    return QRect(RuntimeCvtReal64ToSInt32((width - scale * picture.Width()) / 2.0), RuntimeCvtReal64ToSInt32((height - scale * picture.Height()) / 2.0),
        RuntimeCvtReal64ToSInt32(scale * picture.Width()), RuntimeCvtReal64ToSInt32(scale * picture.Height()));
}

// The share of each source pixel in each of `cells` equal spans over
// `length` source pixels.
std::vector<std::vector<std::pair<int, double>>> spans(int length, int cells)
{
    std::vector<std::vector<std::pair<int, double>>> shares(static_cast<std::size_t>(cells));
    double const step = static_cast<double>(length) / cells;
    for (int cell = 0; cell < cells; ++cell) {
        double const from = cell * step;
        double const to = (cell + 1) * step;
        for (int i = static_cast<int>(std::floor(from)); i < std::min(length, static_cast<int>(std::ceil(to))); ++i)
            shares[static_cast<std::size_t>(cell)].emplace_back(i, (std::min(to, i + 1.0) - std::max(from, static_cast<double>(i))) / step);
    }
    return shares;
}

// The picture reduced to columns x rows by the average of the area each
// cell covers, colours weighted by alpha, laid over the ground.
QImage areaAverage(Picture const& picture, int columns, int rows, QColor ground)
{
    auto const across = spans(picture.Width(), columns);
    auto const down = spans(picture.Height(), rows);
    // Premultiplied red, green, blue and alpha, each 0..1.
    std::vector<std::array<double, 4>> sums(static_cast<std::size_t>(columns) * rows);
    std::vector<std::array<double, 4>> line(static_cast<std::size_t>(columns));
    for (int row = 0; row < rows; ++row) {
        for (auto const& [y, shareDown] : down[static_cast<std::size_t>(row)]) {
            std::uint32_t const* pixels = picture.row(y);
            for (int column = 0; column < columns; ++column) {
                std::array<double, 4> cell {};
                for (auto const& [x, shareAcross] : across[static_cast<std::size_t>(column)]) {
                    std::uint32_t const p = pixels[x];
                    double const alpha = (p >> 24) / 255.0;
                    for (int c = 0; c < 3; ++c)
                        cell[c] += shareAcross * alpha * ((p >> (16 - 8 * c)) & 0xFF) / 255.0;
                    cell[3] += shareAcross * alpha;
                }
                for (int c = 0; c < 4; ++c)
                    sums[static_cast<std::size_t>(row) * columns + column][c] += shareDown * cell[c];
            }
        }
    }
    QImage image(columns, rows, QImage::Format_RGB32);
    double const groundChannels[3] = { ground.redF(), ground.greenF(), ground.blueF() };
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            auto const& sum = sums[static_cast<std::size_t>(row) * columns + column];
            int channels[3];
            for (int c = 0; c < 3; ++c)
                channels[c] = static_cast<int>(std::lround(255.0 * (sum[c] + groundChannels[c] * (1.0 - sum[3]))));
            image.setPixel(column, row, qRgb(channels[0], channels[1], channels[2]));
        }
    }
    return image;
}

// The mean difference in levels over the red, green and blue of every pixel.
double meanDifference(QImage const& a, QImage const& b)
{
    EXPECT_EQ(a.size(), b.size());
    double total = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            QRgb const p = a.pixel(x, y);
            QRgb const q = b.pixel(x, y);
            total += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    }
    return total / (3.0 * a.width() * a.height());
}

// How a canvas drew before it averaged: the picture filtered straight into
// its place, four source pixels read for each screen pixel.
QImage filteredDraw(Picture const& picture, QSize size, QColor ground)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(ground);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(QPoint(), size), picture.image());
    return image;
}

struct Shown {
    char const* canvas;
    Ref<Picture> Window1::*property;
    QColor ground;
};

Shown const canvases[] = {
    { "WhiteInCanvas", &Window1::whitepicture, QColor(255, 255, 255) },
    { "BlackInCanvas", &Window1::blackpicture, QColor(0, 0, 0) },
    { "AlphaCanvas", &Window1::alphapicture, QColor(128, 128, 128) },
};

struct Preview : MainWindow {
    QWidget* canvas(Shown const& shown) const { return widgetOf(shown.canvas); }
    qreal ratio() const { return widgetOf("WhiteInCanvas")->devicePixelRatio(); }
    QRect inDevicePixels(QRect r) const
    {
        qreal const k = ratio();
        return QRect(qRound(r.x() * k), qRound(r.y() * k), qRound(r.width() * k), qRound(r.height() * k));
    }
    // What the canvas shows of the picture, in device pixels, and where.
    QImage shownPart(Shown const& shown, QRect& drawn) const
    {
        QImage const shot = canvas(shown)->grab().toImage();
        EXPECT_EQ(shot.size(), inDevicePixels(QRect(0, 0, 240, 160)).size());
        drawn = inDevicePixels(placed(*(window.get()->*shown.property), QSize(240, 160)));
        return shot.copy(drawn).convertToFormat(QImage::Format_RGB32);
    }
};

TEST_F(Preview, EachCanvasShowsTheAreaAverageOfAShrunkPictureOverItsGround)
{
    struct Reduction {
        int width, height;
        char const* what;
    };
    for (Reduction const& reduction : { Reduction { 720, 480, "3x" }, Reduction { 1000, 700, "4.375x" }, Reduction { 2880, 1920, "12x" },
             Reduction { 2000, 4000, "25x" } }) {
        for (Shown const& shown : canvases) {
            bool const partlyClear = shown.property == &Window1::alphapicture;
            window.get()->*shown.property = fineDetail(reduction.width, reduction.height, partlyClear);
            Picture const& picture = *(window.get()->*shown.property);
            QRect drawn;
            QImage const part = shownPart(shown, drawn);
            QImage const expected = areaAverage(picture, drawn.width(), drawn.height(), shown.ground);
            double const difference = meanDifference(part, expected);
            EXPECT_LE(difference, 2.0) << shown.canvas << " at " << reduction.what;
            // The bound tells an average from a filtered sample.
            double const sampled = meanDifference(filteredDraw(picture, drawn.size(), shown.ground).convertToFormat(QImage::Format_RGB32), expected);
            EXPECT_GT(sampled, 2.0) << shown.canvas << " at " << reduction.what;
            std::printf("%s at %s (%d x %d device pixels): %.2f levels from the area average; a filtered sample: %.2f\n", shown.canvas,
                reduction.what, drawn.width(), drawn.height(), difference, sampled);
            window.get()->*shown.property = nullptr;
        }
    }
}

TEST_F(Preview, OnAScreenScaledTwiceTheCanvasShowsTheFinerReduction)
{
    if (ratio() < 2)
        GTEST_SKIP() << "runs on a screen scaled 2x (QT_SCALE_FACTOR=2)";
    // Black and white stripes 3 pixels wide, shrunk 6 times into the
    // canvas: a device pixel covers one stripe, a point of the canvas two.
    Ref<Picture> const stripes = Picture::create(1440, 960);
    stripes->Graphics()->ForeColor(RGB(255, 255, 255));
    for (int x = 0; x < 1440; x += 6)
        stripes->Graphics()->FillRect(x, 0, 3, 960);
    window->blackpicture = stripes;
    QRect drawn;
    QImage const part = shownPart(canvases[1], drawn);
    ASSERT_EQ(drawn.size(), QSize(480, 320));
    EXPECT_LE(meanDifference(part, areaAverage(*stripes, 480, 320, Qt::black)), 2.0);
    // A reduction to the canvas's points, each shown as 2 x 2 device pixels,
    // would be an even grey.
    QImage const coarse = areaAverage(*stripes, 240, 160, Qt::black).scaled(480, 320);
    EXPECT_GT(meanDifference(part, coarse), 100.0);
}

TEST_F(Preview, AnEnlargedSmallPictureFillsItsPlaceSmoothly)
{
    // Red and blue columns: nothing of the white ground's green may show
    // inside the place, and the colour goes over from column to column in
    // small steps, not in hard edges.
    Ref<Picture> picture = Picture::create(7, 3);
    for (int x = 0; x < 7; ++x) {
        picture->Graphics()->ForeColor(x % 2 ? RGB(0, 0, 255) : RGB(255, 0, 0));
        picture->Graphics()->FillRect(x, 0, 1, 3);
    }
    window->whitepicture = picture;
    QRect drawn;
    QImage const part = shownPart(canvases[0], drawn);
    EXPECT_EQ(drawn, inDevicePixels(QRect(0, 28, 240, 102)));
    int greenest = 0;
    for (int y = 0; y < part.height(); ++y)
        for (int x = 0; x < part.width(); ++x)
            greenest = std::max(greenest, qGreen(part.pixel(x, y)));
    EXPECT_LE(greenest, 2);
    int const middle = part.height() / 2;
    int steepest = 0;
    std::set<int> reds;
    for (int x = 0; x < part.width(); ++x) {
        reds.insert(qRed(part.pixel(x, middle)));
        if (x > 0)
            steepest = std::max(steepest, std::abs(qRed(part.pixel(x, middle)) - qRed(part.pixel(x - 1, middle))));
    }
    EXPECT_GT(reds.size(), 20u);
    EXPECT_LT(steepest, 64);
}

TEST_F(Preview, TheCopyIsMadeOnceAndDroppedOnAnyWriteButNotOnReads)
{
    struct Write {
        char const* what;
        std::function<void(Ref<Picture> const&)> change;
    };
    Ref<Picture> const other = fineDetail(30, 20, false);
    for (Write const& write : std::vector<Write> {
             { "fill", [](Ref<Picture> const& p) { p->Graphics()->ForeColor(RGB(10, 200, 30)); p->Graphics()->FillRect(0, 0, p->Width(), p->Height()); } },
             { "clear", [](Ref<Picture> const& p) { p->Graphics()->ClearRect(0, 0, p->Width(), p->Height()); } },
             { "drawing onto it", [&](Ref<Picture> const& p) { p->Graphics()->DrawPicture(other, 0, 0, p->Width(), p->Height(), 0, 0, 30, 20); } },
             { "a surface", [](Ref<Picture> const& p) { p->RGBSurface()->Pixel(5, 5, RGB(1, 2, 3)); } },
         }) {
        window->whitepicture = fineDetail(1200, 800, false);
        Ref<Picture> const picture = window->whitepicture;
        QRect drawn;
        shownPart(canvases[0], drawn);
        ReducedCopy const* copy = picture->reducedCopy();
        ASSERT_NE(copy, nullptr) << write.what;
        EXPECT_EQ(copy->image().size(), drawn.size());
        // Repaints, and drawing the picture somewhere, use the same copy.
        shownPart(canvases[0], drawn);
        Picture::create(1200, 800)->Graphics()->DrawPicture(picture, 0, 0);
        Picture::create(600, 400)->Graphics()->DrawPicture(picture, 0, 0, 600, 400, 0, 0, 1200, 800);
        EXPECT_EQ(picture->reducedCopy(), copy) << write.what;

        write.change(picture);
        EXPECT_EQ(picture->reducedCopy(), nullptr) << write.what;
        QImage const part = shownPart(canvases[0], drawn);
        EXPECT_LE(meanDifference(part, areaAverage(*picture, drawn.width(), drawn.height(), Qt::white)), 2.0) << write.what;
    }
}

TEST_F(Preview, ACopyCostsNothingOnceItsPictureGoes)
{
    std::size_t const before = ReducedCopy::heldBytes();
    for (Shown const& shown : canvases) {
        window.get()->*shown.property = fineDetail(960, 640, false);
        canvas(shown)->grab();
    }
    QSize const device = inDevicePixels(QRect(0, 0, 240, 160)).size();
    EXPECT_EQ(ReducedCopy::heldBytes() - before, 3u * 4u * device.width() * device.height());
    for (Shown const& shown : canvases)
        window.get()->*shown.property = nullptr;
    EXPECT_EQ(ReducedCopy::heldBytes(), before);
}

TEST_F(Preview, APaintWhileAComputationLetsEventsRunLeavesTheCopyForAfterwards)
{
    // Large enough that the computation lets events run on its way.
    window->whitepicture = fineDetail(2880, 1920, false);
    window->blackpicture = fineDetail(2880, 1920, false);
    Ref<Picture> const white = window->whitepicture;
    bool ranInComputation = false;
    bool copiedInComputation = true;
    QTimer::singleShot(0, [&] {
        ranInComputation = background_task::yielding();
        widgetOf("WhiteInCanvas")->repaint();
        copiedInComputation = white->reducedCopy() != nullptr;
    });
    window->Process();
    ASSERT_TRUE(ranInComputation);
    EXPECT_FALSE(copiedInComputation);
    // The canvas is painted again once the computation is over.
    EXPECT_TRUE(QTest::qWaitFor([&] { return white->reducedCopy() != nullptr; }, 10000));
    QRect drawn;
    QImage const part = shownPart(canvases[0], drawn);
    EXPECT_LE(meanDifference(part, areaAverage(*white, drawn.width(), drawn.height(), Qt::white)), 2.0);
}

}
