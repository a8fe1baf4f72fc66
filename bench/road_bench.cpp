// The road a user waits for after the second drop: the file is decoded,
// copied into the canvas's picture, the matte is extracted and the result
// canvas paints it for the first time. Measured in a fresh process (cold:
// the process touches its memory for the first time) and in one that has
// been down the road before (warm), beside ImageMagick decoding one of the
// two files in the same run.

#include "shell/Imagetypes.h"
#include "support/MainWindow.h"
#include "support/PhotoPair.h"
#include "support/Report.h"

#include "runtime/FolderItem.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace {

constexpr char const* OneRoad = "--one-road";
// Debian's ImageMagick; the comparison is left out where it is not installed.
constexpr char const* ImageMagick = "/usr/bin/convert";

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A photo-like pair saved as PNG files, made once per size and process.
struct PairFiles {
    QTemporaryDir folder;
    QString white = folder.filePath("white.png");
    QString black = folder.filePath("black.png");
};

PairFiles const& pairFiles(int width, int height)
{
    static std::map<std::pair<int, int>, std::unique_ptr<PairFiles>> made;
    std::unique_ptr<PairFiles>& files = made[{ width, height }];
    if (!files) {
        files = std::make_unique<PairFiles>();
        PhotoPair const pair(width, height);
        pair.white->Save(FolderItem::forPath(files->white.toStdString()), 150, -1);
        pair.black->Save(FolderItem::forPath(files->black.toStdString()), 150, -1);
    }
    return *files;
}

// Drags the file over the canvas and drops it there, through Qt's event
// dispatch, as a file manager would.
void drop(QWidget* canvas, QString const& file)
{
    QMimeData data;
    data.setUrls({ QUrl::fromLocalFile(file) });
    QPoint const at(canvas->width() / 2, canvas->height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(canvas, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(canvas, &move);
    QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(canvas, &dropped);
}

// Lets the event loop run for a while, as between two drops of a user.
void idle(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// The second drop, from its arrival to the end of the result's first paint,
// in seconds; negative when no result came.
double secondDrop(MainWindow& main, QString const& black)
{
    main.window->alphapicture = nullptr;
    QWidget* result = main.canvas("AlphaCanvas");
    auto const start = Clock::now();
    drop(main.canvas("BlackInCanvas"), black);
    result->repaint();
    double const taken = secondsSince(start);
    return main.window->alphapicture ? taken : -1;
}

// ImageMagick reading one of the files in full, in seconds; negative when
// it is not there.
double imageMagickDecode(QString const& file)
{
    if (!QFile::exists(ImageMagick))
        return -1;
    auto const start = Clock::now();
    int const status = QProcess::execute(ImageMagick, { file, "null:" });
    return status == 0 ? secondsSince(start) : -1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    std::size_t const middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The figures of one benchmark: the road's times, and ImageMagick's beside
// them, each taken right after a road.
struct RoadFigures {
    std::vector<double> roads;
    std::vector<double> imageMagick;

    void report(benchmark::State& state) const
    {
        if (roads.empty())
            return;
        state.counters["road_median_ms"] = median(roads) * 1e3;
        state.counters["road_slowest_ms"] = *std::max_element(roads.begin(), roads.end()) * 1e3;
        if (imageMagick.size() != roads.size())
            return;
        double worst = 0;
        for (std::size_t i = 0; i < roads.size(); ++i)
            worst = std::max(worst, roads[i] / imageMagick[i]);
        state.counters["imagemagick_decode_median_ms"] = median(imageMagick) * 1e3;
        state.counters["road_over_imagemagick_worst_x"] = worst;
    }

    void addImageMagick(QString const& file)
    {
        if (double const seconds = imageMagickDecode(file); seconds >= 0)
            imageMagick.push_back(seconds);
    }
};

// Warm: the window has taken this pair before; every run drops the black
// shot again after a pause as between two drops.
void BM_RoadWarm(benchmark::State& state)
{
    PairFiles const& files = pairFiles(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    MainWindow main;
    drop(main.canvas("WhiteInCanvas"), files.white);
    drop(main.canvas("BlackInCanvas"), files.black);
    RoadFigures figures;
    for (auto _ : state) {
        idle(1000);
        double const seconds = secondDrop(main, files.black);
        if (seconds < 0) {
            state.SkipWithError("the drop gave no result");
            break;
        }
        state.SetIterationTime(seconds);
        figures.roads.push_back(seconds);
        figures.addImageMagick(files.black);
    }
    figures.report(state);
}

// Cold: each run starts this program anew, which drops the white shot and
// then times the drop of the black one.
void BM_RoadCold(benchmark::State& state)
{
    PairFiles const& files = pairFiles(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    std::string const command = "/proc/" + std::to_string(getpid()) + "/exe " + OneRoad + " '"
        + files.white.toStdString() + "' '" + files.black.toStdString() + "'";
    RoadFigures figures;
    for (auto _ : state) {
        FILE* child = popen(command.c_str(), "r");
        double seconds = -1;
        if (!child || std::fscanf(child, "%lf", &seconds) != 1 || pclose(child) != 0 || seconds < 0) {
            state.SkipWithError("the road in a fresh process failed");
            break;
        }
        state.SetIterationTime(seconds);
        figures.roads.push_back(seconds);
        figures.addImageMagick(files.black);
    }
    figures.report(state);
}

// In the fresh process: the first drop, then the timed second one.
int runOneRoad(QString const& white, QString const& black)
{
    MainWindow main;
    drop(main.canvas("WhiteInCanvas"), white);
    idle(1000);
    double const seconds = secondDrop(main, black);
    std::printf("%.6f\n", seconds);
    return seconds < 0;
}

}

BENCHMARK(BM_RoadCold)->Args({ 6000, 4000 })->Args({ 12000, 8000 })->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_RoadWarm)->Args({ 6000, 4000 })->Args({ 12000, 8000 })->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Imagetypes::Initialize_();
    if (argc == 4 && std::string_view(argv[1]) == OneRoad)
        return runOneRoad(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    return runBenchmarks(argc, argv);
}
