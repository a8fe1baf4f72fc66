#include "matte/Vantrel.h"
#include "runtime/RGBSurface.h"
#include "support/ProcessMemory.h"
#include "support/Report.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr char const* OneExtraction = "--one-extraction";

// A synthetic pair: a subject whose opacity and colour vary over the
// picture, shot over white and over black.
void makePair(int width, int height, Ref<Picture>& white, Ref<Picture>& black)
{
    white = Picture::create(width, height);
    black = Picture::create(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint32_t* w = white->RGBSurface()->scanline(y);
        std::uint32_t* b = black->RGBSurface()->scanline(y);
        for (int x = 0; x < width; ++x) {
            std::uint32_t const alpha = (x * 7 + y * 3) & 0xFF;
            std::uint32_t const r = (x ^ y) & 0xFF, g = (x + 2 * y) & 0xFF, bl = (3 * x + y) & 0xFF;
            auto over = [&](std::uint32_t c, std::uint32_t ground) { return (c * alpha + ground * (255 - alpha)) / 255; };
            w[x] = 0xFF000000u | over(r, 255) << 16 | over(g, 255) << 8 | over(bl, 255);
            b[x] = 0xFF000000u | over(r, 0) << 16 | over(g, 0) << 8 | over(bl, 0);
        }
    }
}

void BM_VantrelProcess(benchmark::State& state)
{
    int const width = static_cast<int>(state.range(0));
    int const height = static_cast<int>(state.range(1));
    Ref<Picture> white, black;
    makePair(width, height, white, black);
    Ref<Vantrel> matte = RuntimeNewObject<Vantrel>();
    matte->whitepicture = white;
    matte->blackpicture = black;

    // Peak memory of one run beyond what is held before it (the two inputs).
    matte->Process();
    matte->alphapicture = nullptr;
    long const before = statusKilobytes("VmRSS:");
    resetPeak();
    matte->Process();
    long const peak = statusKilobytes("VmHWM:");
    matte->alphapicture = nullptr;
    double const picturesKilobytes = 3.0 * width * height * 4 / 1024.0;
    double const extraKilobytes = static_cast<double>(peak - before);
    state.counters["peak_extra_MiB"] = extraKilobytes / 1024.0;
    state.counters["peak_over_3_pictures_x"] = extraKilobytes / picturesKilobytes;

    for (auto _ : state) {
        matte->Process();
        benchmark::DoNotOptimize(matte->alphapicture.get());
        matte->alphapicture = nullptr;
    }
    state.counters["Mpixels_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()) * width * height / 1e6, benchmark::Counter::kIsRate);
}

// The first extraction of a fresh process, which also pays for whatever is
// done once (the page tables of new memory, tables built on first use): each
// iteration starts this program anew for one extraction, which times itself.
void BM_VantrelProcessCold(benchmark::State& state)
{
    std::string const command = "/proc/" + std::to_string(getpid()) + "/exe " + std::string(OneExtraction) + " "
        + std::to_string(state.range(0)) + " " + std::to_string(state.range(1));
    for (auto _ : state) {
        FILE* child = popen(command.c_str(), "r");
        double seconds = -1;
        if (!child || std::fscanf(child, "%lf", &seconds) != 1 || pclose(child) != 0 || seconds < 0) {
            state.SkipWithError("the extraction in a fresh process failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["Mpixels_per_s"] = benchmark::Counter(static_cast<double>(state.iterations() * state.range(0) * state.range(1)) / 1e6, benchmark::Counter::kIsRate);
}

// In the fresh process: the pair is made, then one extraction is timed.
int runOneExtraction(int width, int height)
{
    Ref<Picture> white, black;
    makePair(width, height, white, black);
    Ref<Vantrel> matte = RuntimeNewObject<Vantrel>();
    matte->whitepicture = white;
    matte->blackpicture = black;
    auto const start = std::chrono::steady_clock::now();
    matte->Process();
    std::chrono::duration<double> const taken = std::chrono::steady_clock::now() - start;
    std::printf("%.6f\n", taken.count());
    return matte->alphapicture ? 0 : 1;
}

}

BENCHMARK(BM_VantrelProcessCold)
    ->Args({ 6000, 4000 })
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

BENCHMARK(BM_VantrelProcess)
    ->Args({ 1000, 1000 })
    ->Args({ 4000, 3000 })
    ->Args({ 6000, 4000 })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv)
{
    if (argc == 4 && std::string_view(argv[1]) == OneExtraction)
        return runOneExtraction(std::atoi(argv[2]), std::atoi(argv[3]));
    return runBenchmarks(argc, argv);
}
