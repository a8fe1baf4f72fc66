#include "runtime/FolderItem.h"
#include "runtime/ReducedCopy.h"
#include "runtime/RGBSurface.h"
#include "shell/Imagetypes.h"
#include "support/MainWindow.h"
#include "support/PaintWatch.h"
#include "support/PhotoPair.h"

#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>

namespace {

Ref<Picture> photo(int width, int height, std::uint32_t ground)
{
    Ref<Picture> picture = Picture::create(width, height);
    Ref<RGBSurface> surface = picture->RGBSurface();
    for (int y = 0; y < height; ++y) {
        std::uint32_t* row = surface->scanline(y);
        for (int x = 0; x < width; ++x)
            row[x] = 0xFF000000u | ((((x ^ y) & 0xFF) * 0x010101u) ^ ground);
    }
    return picture;
}

// One paint of the white canvas with a 24 MP picture in it, once the
// picture's reduced copy is in place.
void BM_PaintLargePicture(benchmark::State& state)
{
    MainWindow main;
    main.window->whitepicture = photo(6000, 4000, 0);
    QWidget* canvas = main.canvas("WhiteInCanvas");
    canvas->repaint();
    for (auto _ : state)
        canvas->repaint();
}

// The first paint after the picture changed: it makes the reduced copy.
void BM_PaintLargePictureMakingItsCopy(benchmark::State& state)
{
    MainWindow main;
    main.window->whitepicture = photo(6000, 4000, 0);
    QWidget* canvas = main.canvas("WhiteInCanvas");
    canvas->repaint();
    for (auto _ : state) {
        main.window->whitepicture->image(); // counts as a write: drops the copy
        canvas->repaint();
    }
}

// Making the reduced copy of a 24 MP picture for a canvas of 240 x 160
// points, on a plain screen and on one scaled 2x.
void BM_MakeReducedCopy(benchmark::State& state)
{
    Ref<Picture> const picture = photo(6000, 4000, 0);
    QSize const size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(ReducedCopy::make(*picture, QRect(0, 0, 6000, 4000), size));
}

// Runs 24 MP extractions from the window while a timer asks the canvas for
// repaints every 5 ms: the longest stretch without a paint pass. Before each
// run, `prepare` sets up what the canvas shows.
void measurePaintGaps(benchmark::State& state, MainWindow& main, char const* shown, std::function<void()> const& prepare)
{
    main.window->whitepicture = photo(6000, 4000, 0x00FFFFFF);
    main.window->blackpicture = photo(6000, 4000, 0);
    QWidget* canvas = main.canvas(shown);
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, canvas, [canvas] { canvas->update(); });
    ticker.start(5);
    PaintWatch watch(canvas);
    main.window->Process(); // the first run also pays for the system's first touch of the memory
    qint64 longest = 0;
    int paints = 0;
    for (auto _ : state) {
        state.PauseTiming();
        prepare();
        state.ResumeTiming();
        watch.start();
        main.window->Process();
        longest = std::max(longest, watch.finish());
        paints += watch.paints();
    }
    state.counters["longest_gap_ms"] = static_cast<double>(longest);
    state.counters["paints_per_run_count"] = static_cast<double>(paints) / static_cast<double>(state.iterations());
}

// The result canvas during an extraction, showing nothing yet.
void BM_PaintGapsDuringExtraction(benchmark::State& state)
{
    MainWindow main;
    measurePaintGaps(state, main, "AlphaCanvas", [&] { main.window->alphapicture = nullptr; });
}

// The white canvas during the extraction that follows a drop on it: its
// picture is new and has no reduced copy yet.
void BM_PaintGapsAfterADrop(benchmark::State& state)
{
    MainWindow main;
    measurePaintGaps(state, main, "WhiteInCanvas", [&] { main.window->whitepicture->image(); /* as new: no copy */ });
}

// Saving a 24 MP photo-like result while a timer asks the result canvas,
// which shows it, for repaints every 5 ms: the longest stretch without a
// paint, from the last paint before the save to its end. Each run includes
// 20 ms of the event loop before the save, as before a click.
void BM_PaintGapsDuringSave(benchmark::State& state)
{
    MainWindow main;
    PhotoPair const pair(6000, 4000);
    main.window->whitepicture = pair.white;
    main.window->blackpicture = pair.black;
    main.window->Process();
    // As after two drops: every canvas has shown its picture once.
    for (char const* name : { "WhiteInCanvas", "BlackInCanvas", "AlphaCanvas" })
        main.canvas(name)->repaint();
    QTemporaryDir folder;
    Ref<FolderItem> const file = FolderItem::forPath(folder.filePath("vantrel.png").toStdString());
    QWidget* canvas = main.canvas("AlphaCanvas");
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, canvas, [canvas] { canvas->update(); });
    ticker.start(5);
    PaintWatch watch(canvas);
    // The idle loop makes the canvas's reduced copy of the new result, as it
    // does long before a user clicks the button.
    QEventLoop settle;
    QTimer::singleShot(500, &settle, &QEventLoop::quit);
    settle.exec();
    qint64 longest = 0;
    int paints = 0;
    for (auto _ : state) {
        watch.start();
        QEventLoop idle;
        QTimer::singleShot(20, &idle, &QEventLoop::quit);
        idle.exec();
        main.window->alphapicture->Save(file, 150, -1);
        longest = std::max(longest, watch.finish());
        paints += watch.paints();
    }
    state.counters["longest_gap_ms"] = static_cast<double>(longest);
    state.counters["paints_per_save_count"] = static_cast<double>(paints) / static_cast<double>(state.iterations());
}

}

BENCHMARK(BM_PaintLargePicture)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_PaintLargePictureMakingItsCopy)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_MakeReducedCopy)->Args({ 240, 160 })->Args({ 480, 320 })->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_PaintGapsDuringExtraction)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_PaintGapsAfterADrop)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_PaintGapsDuringSave)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Imagetypes::Initialize_();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
