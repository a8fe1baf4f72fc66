#include "matte/Vantrel.h"
#include "runtime/FolderItem.h"
#include "runtime/imageformats/PngWriter.h"
#include "support/PhotoPair.h"
#include "support/ProcessMemory.h"
#include "support/Report.h"

#include <QApplication>
#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

// The result of a 24 MP photo-like pair, made once.
Ref<Picture> const& cameraSizeResult()
{
    static Ref<Picture> const result = [] {
        PhotoPair const pair(6000, 4000);
        Ref<Vantrel> matte = RuntimeNewObject<Vantrel>();
        matte->whitepicture = pair.white;
        matte->blackpicture = pair.black;
        matte->Process();
        return matte->alphapicture;
    }();
    return result;
}

// A 24 MP picture of noise, colour and alpha: it does not compress, so its
// file is as large as its pixels.
Ref<Picture> const& cameraSizeNoise()
{
    static Ref<Picture> const noise = [] {
        Ref<Picture> picture = Picture::create(6000, 4000);
        std::uint64_t state = 0x9E3779B97F4A7C15u;
        for (std::int32_t y = 0; y < picture->Height(); ++y) {
            std::uint32_t* row = picture->row(y);
            for (std::int32_t x = 0; x < picture->Width(); ++x) {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                row[x] = static_cast<std::uint32_t>(state);
            }
        }
        return picture;
    }();
    return noise;
}

double mebibytes(qint64 bytes)
{
    return static_cast<double>(bytes) / 1048576.0;
}

qint64 ourBytes = 0;

// Picture.Save, to a file beside the others of the run's temporary folder.
void BM_SaveOurs(benchmark::State& state)
{
    Ref<Picture> const& picture = cameraSizeResult();
    QTemporaryDir folder;
    QString const path = folder.filePath("vantrel.png");
    Ref<FolderItem> const file = FolderItem::forPath(path.toStdString());
    for (auto _ : state)
        picture->Save(file, 150, -1);
    ourBytes = QFileInfo(path).size();
    state.counters["file_MiB"] = mebibytes(ourBytes);
}

void noteSizeBesideOurs(benchmark::State& state, qint64 bytes)
{
    state.counters["file_MiB"] = mebibytes(bytes);
    if (ourBytes > 0)
        state.counters["ours_over_this_x"] = static_cast<double>(ourBytes) / static_cast<double>(bytes);
}

// The encoder feeding a disk that takes 10 MB/s, as a slow USB stick might: how
// long the file takes, and the peak memory beyond what was held before (the
// picture and the program), which must stay within 64 MiB. Of the photo-like
// result (0) and of noise (1).
void BM_SaveIntoSlowConsumer(benchmark::State& state)
{
    constexpr double consumerBytesPerSecond = 10e6;
    Picture const& picture = state.range(0) == 0 ? *cameraSizeResult() : *cameraSizeNoise();
    double peakMebibytes = 0;
    qint64 bytes = 0;
    for (auto _ : state) {
        long const before = statusKilobytes("VmRSS:");
        resetPeak();
        PngWriter writer(picture);
        bytes = 0;
        for (std::span<std::uint8_t const> piece = writer.next(); !piece.empty(); piece = writer.next()) {
            bytes += static_cast<qint64>(piece.size());
            std::this_thread::sleep_for(std::chrono::duration<double>(static_cast<double>(piece.size()) / consumerBytesPerSecond));
        }
        peakMebibytes = std::max(peakMebibytes, static_cast<double>(statusKilobytes("VmHWM:") - before) / 1024.0);
    }
    state.counters["peak_over_before_MiB"] = peakMebibytes;
    state.counters["picture_MiB"] = static_cast<double>(picture.Width()) * picture.Height() * 4 / 1048576.0;
    state.counters["file_MiB"] = mebibytes(bytes);
    state.counters["consumer_MB_per_s"] = consumerBytesPerSecond / 1e6;
}

// Qt's PNG writer, as the program used it before, into memory.
void BM_SaveQtWriter(benchmark::State& state)
{
    QImage const& image = cameraSizeResult()->image();
    QByteArray encoded;
    for (auto _ : state) {
        encoded.clear();
        QBuffer buffer(&encoded);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        if (!writer.write(image))
            state.SkipWithError("Qt's writer failed");
    }
    noteSizeBesideOurs(state, encoded.size());
}

// libpng with its default settings, into memory: the size to stay near.
void BM_SaveLibpngDefault(benchmark::State& state)
{
    Picture const& picture = *cameraSizeResult();
    std::vector<std::uint8_t> rgba;
    for (std::int32_t y = 0; y < picture.Height(); ++y) {
        for (std::int32_t x = 0; x < picture.Width(); ++x) {
            std::uint32_t const word = picture.row(y)[x];
            rgba.insert(rgba.end(), { std::uint8_t(word >> 16), std::uint8_t(word >> 8), std::uint8_t(word), std::uint8_t(word >> 24) });
        }
    }
    std::vector<std::uint8_t> encoded;
    png_alloc_size_t size = 0;
    for (auto _ : state) {
        png_image image {};
        image.version = PNG_IMAGE_VERSION;
        image.width = static_cast<png_uint_32>(picture.Width());
        image.height = static_cast<png_uint_32>(picture.Height());
        image.format = PNG_FORMAT_RGBA;
        size = 0;
        png_image_write_get_memory_size(image, size, 0, rgba.data(), 0, nullptr);
        encoded.resize(size);
        if (!png_image_write_to_memory(&image, encoded.data(), &size, 0, rgba.data(), 0, nullptr))
            state.SkipWithError("libpng failed");
    }
    noteSizeBesideOurs(state, static_cast<qint64>(size));
}

}

BENCHMARK(BM_SaveOurs)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_SaveIntoSlowConsumer)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_SaveQtWriter)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_SaveLibpngDefault)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    return runBenchmarks(argc, argv);
}
