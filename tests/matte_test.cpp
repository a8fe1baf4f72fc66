#include "matte/MatteArithmetic.h"
#include "matte/Vantrel.h"
#include "runtime/BackgroundTask.h"
#include "runtime/Graphics.h"
#include "runtime/RGBSurface.h"
#include "support/Raises.h"
#include "support/TracedPicture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

// The matte arithmetic once more, written apart from the program's code:
// doubles throughout, then truncation toward zero and a byte per channel.
Color expectedPixel(int rb, int gb, int bb, int rw, int gw, int bw)
{
    int const difference = rb - rw + gb - gw + bb - bw;
    double const opacity = ((double(difference) / 255.0) / 3.0) + 1.0;
    double const gain = opacity > 0.0 ? 1.0 / opacity : 0.0;
    double const transparency = (1.0 - opacity) * 255.0;
    auto toByte = [](double v) { return std::clamp(static_cast<int>(std::trunc(v)), 0, 255); };
    return RGB(toByte(rb * gain), toByte(gb * gain), toByte(bb * gain), toByte(transparency));
}

Ref<Picture> filled(int width, int height, Color color)
{
    Ref<Picture> picture = Picture::create(width, height);
    picture->Graphics()->ForeColor(color);
    picture->Graphics()->FillRect(0, 0, width, height);
    return picture;
}

Ref<Picture> run(Ref<Picture> white, Ref<Picture> black)
{
    Ref<Vantrel> matte = RuntimeNewObject<Vantrel>();
    matte->whitepicture = white;
    matte->blackpicture = black;
    matte->Process();
    return matte->alphapicture;
}

struct PixelCase {
    char const* name;
    Color black, white;
    MatteValues values; // what reaches RGB, unclamped
    Color result;
};

TEST(MattePixels, EdgeCasesGiveTheArithmeticsValues)
{
    for (PixelCase const& c : std::vector<PixelCase> {
             { "same colour is opaque", RGB(10, 200, 30), RGB(10, 200, 30), { 10, 200, 30, 0 }, RGB(10, 200, 30, 0) },
             { "black on black, white on white", RGB(0, 0, 0), RGB(255, 255, 255), { 0, 0, 0, 255 }, RGB(0, 0, 0, 255) },
             { "brighter on black", RGB(255, 255, 255), RGB(0, 0, 0), { 127, 127, 127, -255 }, RGB(127, 127, 127, 0) },
             { "tiny opacity saturates", RGB(1, 0, 0), RGB(255, 255, 255), { 765, 0, 0, 254 }, RGB(255, 0, 0, 254) },
             { "a hair below whole numbers", RGB(60, 60, 60), RGB(162, 162, 162), { 99, 99, 99, 101 }, RGB(99, 99, 99, 101) },
             { "half way grey", RGB(64, 64, 64), RGB(192, 192, 192), { 128, 128, 128, 128 }, RGB(128, 128, 128, 128) },
         }) {
        EXPECT_EQ(matteValues(c.black, c.white), c.values) << c.name;
        Ref<Picture> result = run(filled(1, 1, c.white), filled(1, 1, c.black));
        Color const pixel = result->RGBSurface()->Pixel(0, 0);
        EXPECT_EQ(pixel, c.result) << c.name;
        EXPECT_EQ(pixel, expectedPixel(c.black.Red(), c.black.Green(), c.black.Blue(), c.white.Red(), c.white.Green(), c.white.Blue())) << c.name;
    }
}

TEST(MattePixels, TableMatchesThePlainArithmeticForEveryDifferenceAndChannel)
{
    MatteTable const& table = MatteTable::instance();
    for (int difference = -765; difference <= 765; ++difference) {
        // A black-ground channel c with the rest of the difference carried
        // by the white-ground shot: the arithmetic sees exactly (c, difference).
        for (int c = 0; c < 256; ++c) {
            double const opacity = ((double(difference) / 255.0) / 3.0) + 1.0;
            double const gain = opacity > 0.0 ? 1.0 / opacity : 0.0;
            int const channel = std::clamp(static_cast<int>(std::trunc(c * gain)), 0, 255);
            ASSERT_EQ(table.channel(difference, c), channel) << difference << " " << c;
        }
        int const transparency = std::clamp(static_cast<int>(std::trunc((1.0 - (((double(difference) / 255.0) / 3.0) + 1.0)) * 255.0)), 0, 255);
        ASSERT_EQ(table.alpha(difference), 255 - transparency) << difference;
    }
}

TEST(MattePixels, RandomPicturesMatchPixelByPixel)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    int const w = 61, h = 37;
    Ref<Picture> white = Picture::create(w, h);
    Ref<Picture> black = Picture::create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            white->RGBSurface()->Pixel(x, y, RGB(byte(random), byte(random), byte(random)));
            black->RGBSurface()->Pixel(x, y, RGB(byte(random), byte(random), byte(random)));
        }
    Ref<RGBSurface> result = run(white, black)->RGBSurface();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            Color const b = black->RGBSurface()->Pixel(x, y);
            Color const wh = white->RGBSurface()->Pixel(x, y);
            ASSERT_EQ(result->Pixel(x, y), expectedPixel(b.Red(), b.Green(), b.Blue(), wh.Red(), wh.Green(), wh.Blue())) << x << "," << y;
        }
}

TEST(MatteProcess, ResultTakesTheLargerWidthAndTheLargerHeight)
{
    Ref<Picture> white = filled(300, 200, RGB(200, 200, 200));
    Ref<Picture> black = filled(250, 400, RGB(100, 100, 100));
    Ref<Picture> result = run(white, black);
    ASSERT_EQ(result->Width(), 300);
    ASSERT_EQ(result->Height(), 400);
    Ref<RGBSurface> s = result->RGBSurface();
    // Both inputs reach.
    EXPECT_EQ(s->Pixel(0, 0), expectedPixel(100, 100, 100, 200, 200, 200));
    // Only the white input reaches: black ground, transparency (Rw+Gw+Bw)/3.
    EXPECT_EQ(s->Pixel(299, 0), RGB(0, 0, 0, 200));
    // Only the black input reaches: white ground.
    EXPECT_EQ(s->Pixel(0, 399), expectedPixel(100, 100, 100, 255, 255, 255));
    // Neither reaches: fully transparent black.
    EXPECT_EQ(s->Pixel(299, 399), RGB(0, 0, 0, 255));
}

TEST(MatteProcess, EmptyInputLeavesTheResultAsItWas)
{
    Ref<Vantrel> matte = RuntimeNewObject<Vantrel>();
    matte->Process();
    EXPECT_TRUE(matte->alphapicture.isNil());
    matte->blackpicture = filled(2, 2, RGB(0, 0, 0));
    matte->Process();
    EXPECT_TRUE(matte->alphapicture.isNil());

    Ref<Picture> earlier = Picture::create(1, 1);
    matte->alphapicture = earlier;
    matte->blackpicture = nullptr;
    matte->whitepicture = filled(2, 2, RGB(255, 255, 255));
    matte->Process();
    EXPECT_EQ(matte->alphapicture.get(), earlier.get());
}

TEST(MatteProcess, ExceptionInsideProcessLeavesTheResultAsItWas)
{
    // Pictures that were never given a size make a result size of 0 x 0,
    // which no picture can have.
    Ref<Vantrel> matte = RuntimeNewObject<Vantrel>();
    Ref<Picture> earlier = Picture::create(1, 1);
    matte->alphapicture = earlier;
    matte->whitepicture = RuntimeNewObject<Picture>();
    matte->blackpicture = RuntimeNewObject<Picture>();
    EXPECT_TRUE(raises<OutOfBoundsException>([&] { matte->Process(); }, "Width/Height needs to be in the range 1-32767"));
    EXPECT_EQ(matte->alphapicture.get(), earlier.get());
}

TEST(MatteProcess, SecondProcessReplacesTheResultAndLeavesTheInputs)
{
    Ref<Vantrel> matte = RuntimeNewObject<Vantrel>();
    matte->whitepicture = filled(2, 2, RGB(255, 255, 255));
    matte->blackpicture = filled(2, 2, RGB(0, 0, 0));
    Ref<Picture> const white = matte->whitepicture;
    matte->Process();
    Ref<Picture> first = matte->alphapicture;
    matte->Process();
    EXPECT_NE(matte->alphapicture.get(), first.get());
    EXPECT_EQ(first->referenceCount(), 1); // only this test holds it now
    EXPECT_EQ(matte->whitepicture.get(), white.get());
    EXPECT_EQ(white->RGBSurface()->Pixel(1, 1), RGB(255, 255, 255));
}

TEST(MatteProcess, InputTransparencyCountsThroughTheGrounds)
{
    // A fully clear input pixel shows the ground: white over white, black
    // over black, so the result is fully transparent.
    Ref<Picture> clear = Picture::create(1, 1);
    EXPECT_EQ(run(clear, clear)->RGBSurface()->Pixel(0, 0), RGB(0, 0, 0, 255));
    // Half-clear red: composited over white it is (255,127,127), over black (128,0,0).
    Ref<Picture> half = Picture::create(1, 1);
    half->RGBSurface()->Pixel(0, 0, RGB(255, 0, 0, 127));
    EXPECT_EQ(run(half, half)->RGBSurface()->Pixel(0, 0), expectedPixel(128, 0, 0, 255, 127, 127));
}

TEST(MatteProcess, YieldPointIsPassedAfterEveryPixelAndEveryRow)
{
    std::uint64_t const before = RuntimeBackgroundTaskPasses();
    run(filled(1, 1, RGB(1, 1, 1)), filled(1, 1, RGB(1, 1, 1)));
    EXPECT_EQ(RuntimeBackgroundTaskPasses() - before, 2u);
    std::uint64_t const middle = RuntimeBackgroundTaskPasses();
    run(filled(7, 3, RGB(1, 1, 1)), filled(5, 4, RGB(1, 1, 1)));
    EXPECT_EQ(RuntimeBackgroundTaskPasses() - middle, 7u * 4u + 4u);
}

TEST(MatteClass, RecordListsProcessAndTheThreePictures)
{
    ClassRecord const& record = Vantrel::Lookup_();
    EXPECT_EQ(record.name, "Vantrel");
    EXPECT_EQ(record.superclass, nullptr);
    EXPECT_TRUE(record.attributes.empty());
    ASSERT_EQ(record.methods.size(), 1u);
    EXPECT_EQ(record.methods[0].name, "Process");
    EXPECT_EQ(record.methods[0].signature, "%%");
    EXPECT_EQ(record.methods[0].attributes, std::vector<Attribute> { PublicScope });
    std::vector<String> names;
    for (PropertyEntry const& property : record.properties) {
        names.push_back(property.name);
        EXPECT_EQ(property.type, "o<Picture>");
        EXPECT_EQ(property.attributes, std::vector<Attribute> { PublicScope });
    }
    EXPECT_EQ(names, (std::vector<String> { "whitepicture", "blackpicture", "alphapicture" }));

    // Process is callable by name.
    Ref<Vantrel> matte = RuntimeNewObject<Vantrel>();
    matte->whitepicture = filled(1, 1, RGB(9, 9, 9));
    matte->blackpicture = filled(1, 1, RGB(9, 9, 9));
    record.findMethod("Process")->invoke(*matte, {});
    EXPECT_FALSE(matte->alphapicture.isNil());
}

TEST(MatteClass, FinaliserReleasesWhiteThenBlackThenAlpha)
{
    std::vector<String> log;
    Ref<Vantrel> matte = RuntimeNewObject<Vantrel>();
    matte->whitepicture = TracedPicture::make("white", log);
    matte->blackpicture = TracedPicture::make("black", log);
    matte->alphapicture = TracedPicture::make("alpha", log);
    matte = nullptr;
    EXPECT_EQ(log, (std::vector<String> { "white", "black", "alpha" }));
}

}
