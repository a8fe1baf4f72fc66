#include "runtime/BackgroundTask.h"
#include "runtime/Delegate.h"
#include "runtime/Exceptions.h"
#include "runtime/Graphics.h"
#include "runtime/Numbers.h"
#include "runtime/Picture.h"
#include "runtime/RGBSurface.h"
#include "runtime/ReducedCopy.h"
#include "support/AddressSpaceLimit.h"
#include "support/Raises.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <vector>

namespace {

// A small class of the test's own, to watch the object model at work.
class Probe : public RuntimeClass<Probe> {
public:
    static ClassRecord buildRecord()
    {
        return ClassRecordBuilder<Probe>("Probe")
            .method("Add", "%i4%i4", { PublicScope }, &Probe::Add)
            .property("picture", "o<Picture>", { PublicScope }, &Probe::picture)
            .finaliser(&Probe::Exit_)
            .build();
    }
    std::int32_t Add(std::int32_t n) { return total += n; }
    Ref<Picture> picture;
    std::int32_t total = 0;
    static inline std::vector<String>* finalised = nullptr;

private:
    void Exit_()
    {
        if (finalised)
            finalised->push_back("Probe");
    }
};

class SubProbe : public RuntimeClass<SubProbe, Probe> {
public:
    static ClassRecord buildRecord() { return ClassRecordBuilder<SubProbe>("SubProbe", &Probe::Lookup_()).finaliser(&SubProbe::Exit_).build(); }

private:
    void Exit_()
    {
        if (finalised)
            finalised->push_back("SubProbe");
    }
};

TEST(ObjectModel, RecordIsBuiltOnceAndFoundByName)
{
    ClassRecord const& first = Probe::Lookup_();
    Probe::ctblinit_();
    EXPECT_EQ(&first, &Probe::Lookup_());
    EXPECT_EQ(ClassRegistry::buildCount("Probe"), 1);
    EXPECT_EQ(ClassRegistry::find("Probe"), &first);
    EXPECT_EQ(ClassRegistry::find("NoSuchClass"), nullptr);
    EXPECT_TRUE(SubProbe::Lookup_().inheritsFrom(first));
    EXPECT_FALSE(first.inheritsFrom(SubProbe::Lookup_()));
}

TEST(ObjectModel, NewObjectCountsReferencesAndRunsFinalisersMostDerivedFirst)
{
    std::vector<String> log;
    Probe::finalised = &log;
    {
        Ref<SubProbe> object = RuntimeNewObject<SubProbe>();
        EXPECT_EQ(object->referenceCount(), 1);
        EXPECT_EQ(&object->classRecord(), &SubProbe::Lookup_());
        Ref<Probe> another = object;
        EXPECT_EQ(object->referenceCount(), 2);
        another = nullptr;
        EXPECT_TRUE(log.empty());
    }
    EXPECT_EQ(log, (std::vector<String> { "SubProbe", "Probe" }));
    Probe::finalised = nullptr;
}

TEST(ObjectModel, NilReferenceRaisesNilObjectException)
{
    Ref<Picture> nil;
    EXPECT_TRUE(raises<NilObjectException>([&] { (void)nil->Width(); }, ""));
    EXPECT_TRUE(raises<NilObjectException>([&] { Raise(Ref<RuntimeException>()); }, ""));
    Ref<Graphics> graphics = Picture::create(2, 2)->Graphics();
    EXPECT_TRUE(raises<NilObjectException>([&] { graphics->DrawPicture(nil, 0, 0); }, ""));
}

TEST(ObjectModel, CheckCastAcceptsSubclassesAndNilAndRefusesOthers)
{
    Ref<Object> object = RuntimeNewObject<SubProbe>();
    EXPECT_EQ(RuntimeCheckCast<Probe>(object).get(), object.get());
    EXPECT_TRUE(RuntimeCheckCast<Probe>(Ref<Object>()).isNil());
    EXPECT_TRUE(raises<IllegalCastException>([&] { RuntimeCheckCast<Picture>(object); }, "an object of class SubProbe is not a Picture"));
}

TEST(ObjectModel, IntrospectionCallsMethodsAndReadsAndWritesProperties)
{
    Ref<Probe> probe = RuntimeNewObject<Probe>();
    ClassRecord const& record = Probe::Lookup_();
    ASSERT_EQ(record.methods.size(), 1u);
    EXPECT_EQ(record.methods[0].signature, "%i4%i4");
    EXPECT_EQ(record.methods[0].attributes, std::vector<Attribute> { PublicScope });
    std::vector<Value> arguments { Value(std::int32_t { 5 }) };
    EXPECT_EQ(std::get<std::int32_t>(record.findMethod("Add")->invoke(*probe, arguments)), 5);
    EXPECT_EQ(probe->total, 5);

    Ref<Picture> picture = Picture::create(1, 1);
    PropertyEntry const& property = *record.findProperty("picture");
    property.set(*probe, Value(Ref<Object>(picture)));
    EXPECT_EQ(probe->picture.get(), picture.get());
    EXPECT_EQ(std::get<Ref<Object>>(property.get(*probe)).get(), picture.get());
    EXPECT_TRUE(raises<IllegalCastException>([&] { property.set(*probe, Value(Ref<Object>(RuntimeNewObject<Probe>()))); },
        "an object of class Probe is not a Picture"));
    EXPECT_TRUE(raises<RuntimeException>([&] { record.methods[0].invoke(*probe, {}); }, "wrong number of arguments for 1 parameters"));
}

TEST(ObjectModel, WeakReferenceTurnsNilWhenObjectGoes)
{
    Ref<Probe> probe = RuntimeNewObject<Probe>();
    WeakRef<Probe> weak(probe);
    EXPECT_EQ(weak.lock().get(), probe.get());
    probe = nullptr;
    EXPECT_TRUE(weak.lock().isNil());
}

TEST(ObjectModel, AssignmentReleasesTheOldValueAfterStoringTheNew)
{
    Ref<Probe> probe = RuntimeNewObject<Probe>();
    Ref<Picture> first = Picture::create(1, 1);
    probe->picture = first;
    EXPECT_EQ(first->referenceCount(), 2);
    probe->picture = Picture::create(2, 2);
    EXPECT_EQ(first->referenceCount(), 1);
    probe->picture.clear();
    EXPECT_TRUE(probe->picture.isNil());
}

std::int32_t twice(std::int32_t n) { return 2 * n; }

TEST(Delegates, FunctionDelegateCarriesItsPlainEntry)
{
    Ref<Delegate> delegate = RuntimeCreateDelegate(&twice, "( Int32 ) as Int32");
    EXPECT_EQ(reinterpret_cast<std::int32_t (*)(std::int32_t)>(delegate->FunctionEntry()), &twice);
    EXPECT_EQ(std::get<std::int32_t>((*delegate)(std::int32_t { 21 })), 42);
    EXPECT_EQ(delegate->Signature(), "( Int32 ) as Int32");
    EXPECT_TRUE(raises<RuntimeException>([&] { (*delegate)(); }, "wrong number of arguments for 1 parameters"));
}

TEST(Delegates, WeakReceiverRaisesOnceTheReceiverIsGone)
{
    Ref<Probe> probe = RuntimeNewObject<Probe>();
    Ref<Delegate> weak = RuntimeCreateDelegate(&Probe::Add, probe, "( Int32 )", Delegate::WeakReceiver);
    Ref<Delegate> strong = RuntimeCreateDelegate(&Probe::Add, probe, "( Int32 )", 0);
    EXPECT_EQ(std::get<std::int32_t>((*weak)(std::int32_t { 3 })), 3);
    EXPECT_EQ(std::get<std::int32_t>((*strong)(std::int32_t { 4 })), 7);
    WeakRef<Probe> watch(probe);
    probe = nullptr;
    EXPECT_FALSE(watch.lock().isNil()); // the strong delegate still holds it
    strong = nullptr;
    EXPECT_TRUE(watch.lock().isNil());
    EXPECT_TRUE(raises<NilObjectException>([&] { (*weak)(std::int32_t { 1 }); }, ""));
}

TEST(Numbers, DoubleToInt32TruncatesSaturatesAndMapsNaNToZero)
{
    struct Case {
        double in;
        std::int32_t out;
    };
    double const inf = std::numeric_limits<double>::infinity();
    for (Case c : std::vector<Case> { { 127.5, 127 }, { -127.5, -127 }, { 99.99999999999999, 99 }, { 254.667, 254 },
             { -0.9, 0 }, { 2147483647.9, 2147483647 }, { 3e9, 2147483647 }, { -3e9, -2147483647 - 1 },
             { inf, 2147483647 }, { -inf, -2147483647 - 1 }, { std::nan(""), 0 } }) {
        EXPECT_EQ(RuntimeCvtReal64ToSInt32(c.in), c.out) << c.in;
    }
    EXPECT_EQ(RuntimeCvtSInt32ToReal64(-2147483647 - 1), -2147483648.0);
    EXPECT_EQ(Min(2.0, 3.0), 2.0);
    EXPECT_EQ(Max(2.0, 3.0), 3.0);
}

TEST(ColorTest, RGBSaturatesAndPlacesTransparencyInTheTopByte)
{
    EXPECT_EQ(RGB(255, 255, 255, 0).value, 0x00FFFFFFu);
    EXPECT_EQ(RGB(0, 0, 0, 255).value, 0xFF000000u);
    EXPECT_EQ(RGB(765, -3, 128, -255).value, 0x00FF0080u);
    EXPECT_EQ(RGB(1, 2, 3, 300).value, 0xFF010203u);
    Color const c = RGB(10, 20, 30, 40);
    EXPECT_EQ(c.Red(), 10);
    EXPECT_EQ(c.Green(), 20);
    EXPECT_EQ(c.Blue(), 30);
    EXPECT_EQ(c.Transparency(), 40);
    EXPECT_EQ(storedPixel(c), 0xD70A141Eu);
}

TEST(PictureTest, SizeBoundsRaiseWithTheirMessage)
{
    for (auto [w, h] : std::vector<std::pair<int, int>> { { 0, 1 }, { 1, 0 }, { 32768, 1 }, { 1, 32768 }, { -1, 5 } }) {
        EXPECT_TRUE(raises<OutOfBoundsException>([&] { Picture::create(w, h); }, "Width/Height needs to be in the range 1-32767"))
            << w << " x " << h;
    }
    Ref<Picture> wide = Picture::create(32767, 1);
    EXPECT_EQ(wide->Width(), 32767);
    EXPECT_EQ(wide->Height(), 1);
}

TEST(PictureTest, APictureThatDoesNotFitInMemoryRaisesInsteadOfCrashing)
{
    // The process may map only a little more than it has now, as on a
    // machine whose memory is spent.
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs all the address space it reserves";
#endif
    Ref<RuntimeException> raised;
    {
        AddressSpaceLimit const limit(256);
        ASSERT_TRUE(limit.limited());
        raised = raisedBy([] { Picture::create(20000, 20000); });
    }
    ASSERT_TRUE(raised);
    EXPECT_TRUE(raised->isKindOf(OutOfMemoryException::Lookup_()));
    EXPECT_EQ(raised->Message, "There is not enough memory for a picture of 20000 x 20000 pixels");
}

TEST(PictureTest, PicturesTogetherStayWithinTheMemoryBudget)
{
    // Large pictures whose pixels are never touched cost address space
    // only, so the budget can be reached without using memory.
    std::size_t const baseline = Picture::heldBytes();
    std::vector<Ref<Picture>> held;
    Ref<RuntimeException> raised;
    for (int i = 0; i < 64 && !raised; ++i) {
        raised = raisedBy([&] { held.push_back(Picture::create(32767, 32767)); });
        EXPECT_LE(Picture::heldBytes(), Picture::memoryBudget());
    }
    ASSERT_TRUE(raised);
    EXPECT_TRUE(raised->isKindOf(OutOfMemoryException::Lookup_()));
    EXPECT_EQ(raised->Message, "There is not enough memory for a picture of 32767 x 32767 pixels");
    held.clear();
    EXPECT_EQ(Picture::heldBytes(), baseline);
}

TEST(PictureTest, NewPictureIsTransparentBlackWithOneGraphics)
{
    Ref<Picture> picture = Picture::create(3, 2);
    Ref<RGBSurface> surface = picture->RGBSurface();
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(surface->Pixel(x, y), RGB(0, 0, 0, 255));
    EXPECT_EQ(picture->Graphics().get(), picture->Graphics().get());
    picture->Graphics()->ForeColor(RGB(1, 2, 3));
    EXPECT_EQ(picture->Graphics()->ForeColor(), RGB(1, 2, 3));
}

TEST(PictureTest, SurfaceIsLiveAndChecksBounds)
{
    Ref<Picture> picture = Picture::create(4, 4);
    Ref<RGBSurface> surface = picture->RGBSurface();
    picture->Graphics()->ForeColor(RGB(200, 100, 50));
    picture->Graphics()->FillRect(1, 1, 2, 2);
    EXPECT_EQ(surface->Pixel(1, 1), RGB(200, 100, 50));
    EXPECT_EQ(surface->Pixel(0, 0), RGB(0, 0, 0, 255));
    surface->Pixel(3, 3, RGB(9, 8, 7, 6));
    EXPECT_EQ(picture->RGBSurface()->Pixel(3, 3), RGB(9, 8, 7, 6));
    EXPECT_TRUE(raises<OutOfBoundsException>([&] { surface->Pixel(4, 0); }, "The pixel (4, 0) lies outside the picture"));
    EXPECT_TRUE(raises<OutOfBoundsException>([&] { surface->Pixel(0, -1); }, "The pixel (0, -1) lies outside the picture"));
}

// Reading a pixel leaves the picture as it was: still known to be clear,
// and with the reduced copy that canvases draw; writing one changes both.
TEST(PictureTest, ReadingThroughTheSurfaceCountsAsNoWrite)
{
    Ref<Picture> const picture = Picture::create(64, 64);
    picture->keepReducedCopy(ReducedCopy::make(*picture, QRect(0, 0, 64, 64), QSize(16, 16)));
    Ref<RGBSurface> const surface = picture->RGBSurface();
    EXPECT_EQ(surface->Pixel(3, 4), RGB(0, 0, 0, 255));
    EXPECT_TRUE(picture->knownClear());
    EXPECT_NE(picture->reducedCopy(), nullptr);
    surface->Pixel(3, 4, RGB(1, 2, 3));
    EXPECT_FALSE(picture->knownClear());
    EXPECT_EQ(picture->reducedCopy(), nullptr);
}

TEST(PictureTest, ClearRectClearsWhatWasWrittenAnyWay)
{
    Ref<Picture> picture = Picture::create(4, 4);
    Ref<Picture> dot = Picture::create(1, 1);
    dot->RGBSurface()->Pixel(0, 0, RGB(1, 2, 3));
    // Through the surface, an unscaled draw, and a scaled draw.
    picture->RGBSurface()->Pixel(0, 0, RGB(9, 9, 9));
    picture->Graphics()->ClearRect(0, 0, 4, 4);
    EXPECT_EQ(picture->RGBSurface()->Pixel(0, 0), RGB(0, 0, 0, 255));
    Ref<Picture> fresh = Picture::create(4, 4);
    fresh->Graphics()->DrawPicture(dot, 1, 1, 2, 2, 0, 0, 1, 1);
    EXPECT_EQ(fresh->RGBSurface()->Pixel(2, 2), RGB(1, 2, 3));
    fresh->Graphics()->ClearRect(0, 0, 4, 4);
    EXPECT_EQ(fresh->RGBSurface()->Pixel(2, 2), RGB(0, 0, 0, 255));
}

TEST(PictureTest, GraphicsOutlivingItsPictureRaisesInsteadOfCrashing)
{
    Ref<Graphics> graphics = Picture::create(2, 2)->Graphics();
    EXPECT_TRUE(raises<NilObjectException>([&] { graphics->FillRect(0, 0, 1, 1); }, ""));
}

struct DrawCase {
    char const* name;
    Color ground;
    Color source;
    Color expected;
};

TEST(GraphicsTest, DrawPictureCompositesSourceOverTheGround)
{
    for (DrawCase c : std::vector<DrawCase> {
             { "opaque replaces", RGB(255, 255, 255), RGB(10, 20, 30), RGB(10, 20, 30) },
             { "clear keeps ground", RGB(255, 255, 255), RGB(10, 20, 30, 255), RGB(255, 255, 255) },
             { "half red over white", RGB(255, 255, 255), RGB(255, 0, 0, 127), RGB(255, 127, 127) },
             { "half red over black", RGB(0, 0, 0), RGB(255, 0, 0, 127), RGB(128, 0, 0) },
         }) {
        Ref<Picture> source = Picture::create(1, 1);
        source->RGBSurface()->Pixel(0, 0, c.source);
        Ref<Picture> target = Picture::create(1, 1);
        target->Graphics()->ForeColor(c.ground);
        target->Graphics()->FillRect(0, 0, 1, 1);
        target->Graphics()->DrawPicture(source, 0, 0);
        EXPECT_EQ(target->RGBSurface()->Pixel(0, 0), c.expected) << c.name;
    }
}

TEST(GraphicsTest, DrawPictureClipsAndPlacesTheSourceRectangle)
{
    Ref<Picture> source = Picture::create(3, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            source->RGBSurface()->Pixel(x, y, RGB(x * 10, y * 10, 0));
    Ref<Picture> target = Picture::create(4, 4);
    target->Graphics()->DrawPicture(source, 2, 2, Graphics::Omitted, Graphics::Omitted, 1, 1, Graphics::Omitted, Graphics::Omitted);
    Ref<RGBSurface> s = target->RGBSurface();
    EXPECT_EQ(s->Pixel(2, 2), RGB(10, 10, 0));
    EXPECT_EQ(s->Pixel(3, 3), RGB(20, 20, 0));
    EXPECT_EQ(s->Pixel(1, 1), RGB(0, 0, 0, 255));
    // Partly off the target on the top-left.
    target->Graphics()->ClearRect(0, 0, 4, 4);
    target->Graphics()->DrawPicture(source, -1, -2);
    EXPECT_EQ(s->Pixel(0, 0), RGB(10, 20, 0));
    EXPECT_EQ(s->Pixel(1, 0), RGB(20, 20, 0));
    EXPECT_EQ(s->Pixel(2, 0), RGB(0, 0, 0, 255));
    EXPECT_EQ(s->Pixel(0, 1), RGB(0, 0, 0, 255));
}

TEST(GraphicsTest, ScaledDrawFillsTheDestinationRectangle)
{
    Ref<Picture> source = Picture::create(2, 2);
    source->Graphics()->ForeColor(RGB(40, 80, 120));
    source->Graphics()->FillRect(0, 0, 2, 2);
    Ref<Picture> target = Picture::create(8, 8);
    target->Graphics()->DrawPicture(source, 2, 2, 4, 4, 0, 0, 2, 2);
    Ref<RGBSurface> s = target->RGBSurface();
    EXPECT_EQ(s->Pixel(2, 2), RGB(40, 80, 120));
    EXPECT_EQ(s->Pixel(5, 5), RGB(40, 80, 120));
    EXPECT_EQ(s->Pixel(1, 1), RGB(0, 0, 0, 255));
    EXPECT_EQ(s->Pixel(6, 6), RGB(0, 0, 0, 255));
}

TEST(GraphicsTest, FillAndClearStayInsideThePicture)
{
    Ref<Picture> picture = Picture::create(3, 3);
    picture->Graphics()->ForeColor(RGB(255, 255, 255));
    picture->Graphics()->FillRect(-5, -5, 100000, 100000);
    picture->Graphics()->ClearRect(1, 1, 2147483647, 1);
    Ref<RGBSurface> s = picture->RGBSurface();
    EXPECT_EQ(s->Pixel(0, 0), RGB(255, 255, 255));
    EXPECT_EQ(s->Pixel(2, 2), RGB(255, 255, 255));
    EXPECT_EQ(s->Pixel(1, 1), RGB(0, 0, 0, 255));
    EXPECT_EQ(s->Pixel(2, 1), RGB(0, 0, 0, 255));
    picture->Graphics()->FillRect(0, 0, -1, 3);
    EXPECT_EQ(s->Pixel(1, 1), RGB(0, 0, 0, 255));
}

}

namespace {

// Work long enough to pass a yield point that lets events run.
void workFor(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        background_task::yieldIfDue();
}

// Lets the event loop run, waiting for events, for that long.
void runEventLoopFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

Qt::CursorShape pointerShape()
{
    QCursor const* cursor = QGuiApplication::overrideCursor();
    return cursor ? cursor->shape() : Qt::ArrowCursor;
}

}

TEST(YieldPoint, LongWorkShowsTheBusyCursorUntilTheEventLoopIsIdleAgain)
{
    Qt::CursorShape duringWork = Qt::ArrowCursor;
    QTimer::singleShot(0, [&] { duringWork = pointerShape(); });
    workFor(80);
    EXPECT_EQ(duringWork, Qt::BusyCursor) << "the timer ran at a yield point, while the work went on";
    EXPECT_EQ(pointerShape(), Qt::BusyCursor);

    runEventLoopFor(5);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "every busy cursor set was restored";

    // Work is timed from when the loop woke up for it, not from the last
    // yield: a short piece of work after an idle spell shows nothing.
    runEventLoopFor(60);
    workFor(5);
    EXPECT_EQ(pointerShape(), Qt::ArrowCursor);
}
