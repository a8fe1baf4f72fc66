#include "runtime/BackgroundTask.h"
#include "runtime/FolderItem.h"
#include "runtime/Picture.h"
#include "runtime/RGBSurface.h"
#include "runtime/Workers.h"
#include "runtime/imageformats/PngWriter.h"
#include "support/AppRun.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QImage>
#include <QMainWindow>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// A picture of noise that does not compress: its file is as large as its
// pixels.
Ref<Picture> noise(int width, int height)
{
    Ref<Picture> picture = Picture::create(width, height);
    Ref<RGBSurface> const surface = picture->RGBSurface();
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (int y = 0; y < height; ++y) {
        std::uint32_t* row = surface->scanline(y);
        for (int x = 0; x < width; ++x) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            row[x] = static_cast<std::uint32_t>(state);
        }
    }
    return picture;
}

// While one lives, the system gives this many more threads, then none: each
// refusal is what the check throws.
class ThreadsToHave {
public:
    enum class Refusal { SystemError, BadAlloc };
    ThreadsToHave(int count, Refusal refusal)
    {
        s_left = count;
        s_refusal = refusal;
        Workers::setThreadStartCheck(&check);
    }
    ~ThreadsToHave() { Workers::setThreadStartCheck(nullptr); }
    ThreadsToHave(ThreadsToHave const&) = delete;
    ThreadsToHave& operator=(ThreadsToHave const&) = delete;

private:
    static void check()
    {
        if (s_left-- > 0)
            return;
        if (s_refusal == Refusal::BadAlloc)
            throw std::bad_alloc();
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    static inline std::atomic<int> s_left = 0;
    static inline Refusal s_refusal = Refusal::SystemError;
};

struct Availability {
    char const* what;
    int threads;
    ThreadsToHave::Refusal refusal;
};

std::vector<Availability> const availabilities {
    { "threads to spare", 1000, ThreadsToHave::Refusal::SystemError },
    { "two threads, then the system refuses", 2, ThreadsToHave::Refusal::SystemError },
    { "no thread: the system refuses", 0, ThreadsToHave::Refusal::SystemError },
    { "no thread: no memory to start one", 0, ThreadsToHave::Refusal::BadAlloc },
};

TEST(Workers, ARunBesideGivesItsResultOrItsExceptionBackOnThisThreadWithOrWithoutAThread)
{
    for (Availability const& availability : availabilities) {
        ThreadsToHave const threads(availability.threads, availability.refusal);
        std::thread::id ranOn;
        EXPECT_EQ(runBeside([&] {
            ranOn = std::this_thread::get_id();
            return 42;
        }),
            42)
            << availability.what;
        EXPECT_EQ(ranOn == std::this_thread::get_id(), availability.threads == 0) << availability.what;
        EXPECT_THROW(runBeside([]() -> int { throw std::out_of_range("from the task"); }), std::out_of_range) << availability.what;
    }
}

TEST(Workers, RunsShareTheWorkAsManyAsTheSystemGivesWhileTheWaitKeepsTheWindowPainted)
{
    QWidget window;
    window.resize(100, 100);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    int paints = 0;
    struct PaintCount : QObject {
        int& paints;
        explicit PaintCount(int& count) : paints(count) { }
        bool eventFilter(QObject*, QEvent* event) override
        {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    } counter(paints);
    window.installEventFilter(&counter);
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &window, [&window] { window.update(); });
    ticker.start(5);

    for (Availability const& availability : availabilities) {
        ThreadsToHave const threads(availability.threads, availability.refusal);
        constexpr int shares = 300;
        std::atomic<int> next = 0;
        std::atomic<int> done = 0;
        Workers workers(4, [&] {
            for (; next++ < shares; ++done)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        std::size_t const started = workers.started();
        EXPECT_EQ(started, static_cast<std::size_t>(std::min(4, availability.threads))) << availability.what;
        QTest::qWait(10);
        int const paintsBefore = paints;
        workers.wait();
        EXPECT_EQ(done, shares) << availability.what;
        if (started > 0) {
            EXPECT_GT(paints, paintsBefore) << availability.what;
        }
    }
}

TEST(Workers, TheFirstExceptionOfSeveralRunsComesBackOnceAllHaveEnded)
{
    std::atomic<int> ended = 0;
    Workers workers(3, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ++ended;
        throw std::runtime_error("a run failed");
    });
    int const started = static_cast<int>(workers.started());
    EXPECT_THROW(workers.wait(), std::runtime_error);
    EXPECT_EQ(ended, started);
}

// With no thread to be had, a large picture is still brought in and a
// picture of several bands still saved whole: each step does its work on
// this thread.
TEST(Workers, WithNoThreadToBeHadPicturesAreStillMadeAndSaved)
{
    for (ThreadsToHave::Refusal refusal : { ThreadsToHave::Refusal::SystemError, ThreadsToHave::Refusal::BadAlloc }) {
        ThreadsToHave const none(0, refusal);
        // Large enough that its pages are brought in at once on workers.
        Ref<Picture> const large = Picture::create(4096, 2048);
        EXPECT_EQ(large->RGBSurface()->Pixel(4095, 2047), RGB(0, 0, 0, 255));

        Ref<Picture> const picture = Picture::create(1000, 1000);
        for (int y = 0; y < 1000; ++y) {
            std::uint32_t* row = picture->RGBSurface()->scanline(y);
            for (int x = 0; x < 1000; ++x)
                row[x] = static_cast<std::uint32_t>(x * 0x01020304u ^ y * 0x00010101u);
        }
        QTemporaryDir folder;
        QString const path = folder.filePath("out.png");
        picture->Save(FolderItem::forPath(path.toStdString()), 150, -1);
        QImage const saved = QImage(path).convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(saved.size(), QSize(1000, 1000));
        for (int y = 0; y < saved.height(); ++y)
            ASSERT_EQ(std::memcmp(saved.constScanLine(y), picture->image().constScanLine(y), 1000 * 4), 0) << "row " << y;
    }
}

// A writer whose caller stops taking the file holds only a few bands beyond
// the one taken, however long it waits; taken to the end, the file is whole.
TEST(PngWriter, ACallerThatStallsHoldsTheWorkersBackAndTheFileStaysWhole)
{
    Ref<Picture> const picture = noise(4000, 3000);
    std::size_t const pixelBytes = 4000u * 3000u * 4u;
    PngWriter writer(*picture);
    QByteArray file;
    for (int piece = 0; piece < 2; ++piece) {
        std::span<std::uint8_t const> const taken = writer.next();
        file.append(reinterpret_cast<char const*>(taken.data()), static_cast<qsizetype>(taken.size()));
    }
    std::size_t held = 0;
    for (int look = 0; look < 40; ++look) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        held = std::max(held, writer.heldBytes());
    }
    EXPECT_GT(held, 0u);
    EXPECT_LT(held, std::size_t { 24 } << 20) << "of a file of some " << (pixelBytes >> 20) << " MiB";
    for (std::span<std::uint8_t const> taken = writer.next(); !taken.empty(); taken = writer.next())
        file.append(reinterpret_cast<char const*>(taken.data()), static_cast<qsizetype>(taken.size()));
    QImage const read = QImage::fromData(file, "PNG").convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(read.size(), QSize(4000, 3000));
    for (int y = 0; y < read.height(); ++y)
        ASSERT_EQ(std::memcmp(read.constScanLine(y), picture->image().constScanLine(y), 4000 * 4), 0) << "row " << y;
}

// Work on the GUI thread long enough to pass yield points that let events
// run.
void workFor(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        background_task::yieldIfDue();
}

TEST(YieldPoint, OnAnyOtherThreadItDoesNothing)
{
    QTest::qWait(10); // no work under way
    std::uint64_t const passes = RuntimeBackgroundTaskPasses();
    bool yieldingSeen = false;
    std::thread other([&] {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 100) {
            RuntimeBackgroundTask();
            background_task::yieldIfDue();
            yieldingSeen = yieldingSeen || background_task::yielding();
        }
    });
    other.join();
    EXPECT_FALSE(yieldingSeen);
    EXPECT_FALSE(background_task::showingBusyCursor());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(RuntimeBackgroundTaskPasses(), passes);

    // The same on this thread lets events run.
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = background_task::yielding(); });
    workFor(80);
    EXPECT_TRUE(ran);
    QTest::qWait(5);
}

// In a run of the program, a computation from the event loop, as a drop
// starts it: a click on the File menu, Ctrl+Q (twice) and the close box,
// sent through the platform while it lets events run, change nothing during
// the work; the click is never delivered, and the close and the quit are
// carried out once, when the work is over.
TEST(YieldPoint, InputDuringWorkIsDroppedWhileTheCloseBoxAndQuitWaitForItsEnd)
{
    bool sent = false;
    bool popupDuringWork = true;
    bool visibleAfterWork = false;
    bool quitBeforeWorkEnded = true;
    bool popupAfterWork = true;
    bool visibleOnceOver = true;
    bool quitAsked = false;
    AppRun const run(
        [&] {
            Ref<Window1> const window = Window1::Window1_();
            window->whitepicture = Picture::create(4000, 3000);
            window->blackpicture = Picture::create(4000, 3000);
            QMainWindow* const top = window->widget();
            QWindow* const handle = top->windowHandle();
            QMenuBar* const bar = top->menuBar();
            QTimer::singleShot(0, [&] {
                sent = background_task::yielding();
                QPoint const file = bar->mapTo(top, bar->actionGeometry(bar->actions().first()).center());
                QTest::mouseClick(handle, Qt::LeftButton, {}, file);
                QTest::keyClick(handle, Qt::Key_Q, Qt::ControlModifier);
                QTest::keyClick(handle, Qt::Key_Q, Qt::ControlModifier); // a second press asks for nothing more
                handle->close();
                popupDuringWork = QApplication::activePopupWidget() != nullptr;
            });
            window->Process();
            quitBeforeWorkEnded = quitAsked;
            visibleAfterWork = top->isVisible();
            QApplication::processEvents();
            QApplication::processEvents();
            popupAfterWork = QApplication::activePopupWidget() != nullptr;
            visibleOnceOver = top->isVisible();
        },
        [&](RecordedCall const& call) { quitAsked = quitAsked || call.operation == "QuitMenuAction"; });
    ASSERT_TRUE(sent) << "no events ran during the computation";
    EXPECT_FALSE(popupDuringWork);
    EXPECT_FALSE(popupAfterWork);
    EXPECT_TRUE(visibleAfterWork);
    EXPECT_FALSE(quitBeforeWorkEnded);
    EXPECT_EQ(run.count("QuitMenuAction"), 1);
    EXPECT_FALSE(visibleOnceOver);
    EXPECT_EQ(run.status, 0);
}

}
