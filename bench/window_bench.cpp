#include "runtime/RGBSurface.h"
#include "shell/Imagetypes.h"
#include "support/MainWindow.h"
#include "support/PaintWatch.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <algorithm>

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

// One paint of the white canvas with a 24 MP picture in it.
void BM_PaintLargePicture(benchmark::State& state)
{
    MainWindow main;
    main.window->whitepicture = photo(6000, 4000, 0);
    QWidget* canvas = main.canvas("WhiteInCanvas");
    for (auto _ : state)
        canvas->repaint();
}

// A 24 MP extraction run from the window while a timer asks for repaints
// every 5 ms: the longest stretch without a paint pass.
void BM_PaintGapsDuringExtraction(benchmark::State& state)
{
    MainWindow main;
    main.window->whitepicture = photo(6000, 4000, 0x00FFFFFF);
    main.window->blackpicture = photo(6000, 4000, 0);
    QWidget* canvas = main.canvas("AlphaCanvas");
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, canvas, [canvas] { canvas->update(); });
    ticker.start(5);
    PaintWatch watch(canvas);
    main.window->Process(); // the first run also pays for the system's first touch of the memory
    main.window->alphapicture = nullptr;
    qint64 longest = 0;
    int paints = 0;
    for (auto _ : state) {
        watch.start();
        main.window->Process();
        longest = std::max(longest, watch.finish());
        paints += watch.paints();
        main.window->alphapicture = nullptr;
    }
    state.counters["longest_gap_ms"] = static_cast<double>(longest);
    state.counters["paints_per_run"] = static_cast<double>(paints) / static_cast<double>(state.iterations());
}

}

BENCHMARK(BM_PaintLargePicture)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_PaintGapsDuringExtraction)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

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
