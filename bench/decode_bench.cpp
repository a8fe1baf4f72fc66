// Opening picture files: our readers beside Qt's on the same files, the
// window's paint gaps while a file is read, and the peak memory of a read.
// The files are made at start, in a temporary folder.

#include "runtime/Exceptions.h"
#include "runtime/FolderItem.h"
#include "runtime/Picture.h"
#include "shell/Imagetypes.h"
#include "support/MainWindow.h"
#include "support/PaintWatch.h"
#include "support/Report.h"

#include <QApplication>
#include <QImage>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <utility>
#include <vector>

namespace {

// Where the files are made: a temporary folder, or the one given.
QString inputFolder;

String pathOf(char const* name)
{
    static QTemporaryDir temporary;
    return (inputFolder.isEmpty() ? temporary.path() : inputFolder).toStdString() + "/" + name;
}

// A row of a photograph-like picture: smooth shading with structure at
// several scales, fine texture of the given strength and sensor noise, 8
// bits a channel.
void photoRow(int width, int height, int y, std::mt19937& random, std::uint8_t* rgb, float texture = 0.0f)
{
    std::normal_distribution<float> noise(0.0f, 2.5f);
    for (int x = 0; x < width; ++x) {
        float const u = static_cast<float>(x) / static_cast<float>(width);
        float const v = static_cast<float>(y) / static_cast<float>(height);
        float const fine = std::sin(0.9f * static_cast<float>(x) + 0.4f * static_cast<float>(y)) * std::sin(0.7f * static_cast<float>(y) - 0.2f * static_cast<float>(x));
        float const shade = 0.5f + 0.3f * std::sin(6.0f * u + 2.0f * v) * std::cos(4.0f * v - u) + 0.1f * std::sin(40.0f * u * v) + texture * fine;
        float const channels[3] = { shade * 230.0f + 20.0f * u, shade * 200.0f + 30.0f * v, shade * 180.0f + 40.0f * (1.0f - u) };
        for (int c = 0; c < 3; ++c)
            rgb[x * 3 + c] = static_cast<std::uint8_t>(std::clamp(channels[c] + noise(random), 0.0f, 255.0f));
    }
}

void writePng(String const& path, int width, int height, int depth, int colourType, int level, auto const& fillRow)
{
    FILE* out = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, out);
    if (level >= 0)
        png_set_compression_level(png, level);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), depth, colourType,
        PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<std::uint8_t> row(png_get_rowbytes(png, info));
    for (int y = 0; y < height; ++y) {
        fillRow(y, row.data());
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(out);
}

// A 24 MP 8-bit RGB PNG as a camera's export writes it: zlib's default level.
String const& cameraPng()
{
    static String const path = [] {
        String p = pathOf("camera.png");
        std::mt19937 random(1);
        writePng(p, 6000, 4000, 8, PNG_COLOR_TYPE_RGB, -1, [&](int y, std::uint8_t* row) { photoRow(6000, 4000, y, random, row); });
        return p;
    }();
    return path;
}

void writeJpeg(String const& path, int quality, float texture)
{
    FILE* out = std::fopen(path.c_str(), "wb");
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr errors {};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = 6000;
    cinfo.image_height = 4000;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row(6000 * 3);
    std::mt19937 random(1);
    for (int y = 0; y < 4000; ++y) {
        photoRow(6000, 4000, y, random, row.data(), texture);
        JSAMPROW rows[] = { row.data() };
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(out);
}

// 24 MP baseline JPEGs, chroma halved both ways: one with fine texture at
// quality 92, about the size of a camera's (6 MB), and the smooth picture
// of the PNG at quality 90 (2 MB).
String const& cameraJpeg()
{
    static String const path = [] {
        String p = pathOf("camera.jpg");
        writeJpeg(p, 92, 0.08f);
        return p;
    }();
    return path;
}

String const& smoothJpeg()
{
    static String const path = [] {
        String p = pathOf("smooth.jpg");
        writeJpeg(p, 90, 0.0f);
        return p;
    }();
    return path;
}

// A 16384 x 16384 16-bit RGBA PNG of smooth shading: a few MB that hold a
// 1 GiB picture.
String const& hugePng()
{
    static String const path = [] {
        String p = pathOf("huge16.png");
        writePng(p, 16384, 16384, 16, PNG_COLOR_TYPE_RGB_ALPHA, 1, [](int y, std::uint8_t* row) {
            for (int x = 0; x < 16384; ++x) {
                std::uint16_t const values[4] = { static_cast<std::uint16_t>(x * 4), static_cast<std::uint16_t>(y * 4), static_cast<std::uint16_t>((x + y) * 2), static_cast<std::uint16_t>(0xFFFF - (x / 64) * 64) };
                for (int c = 0; c < 4; ++c) {
                    row[x * 8 + c * 2] = static_cast<std::uint8_t>(values[c] >> 8);
                    row[x * 8 + c * 2 + 1] = static_cast<std::uint8_t>(values[c]);
                }
            }
        });
        return p;
    }();
    return path;
}

// TIFFs as common tools write them: rows of fillRow, in strips of the
// library's default size, or in 256 x 256 tiles.
struct TiffLayout {
    int width = 6000;
    int height = 4000;
    int samples = 3;
    int bits = 8;
    std::uint16_t photometric = PHOTOMETRIC_RGB;
    std::uint16_t compression = COMPRESSION_NONE;
    bool tiled = false;
    bool oneStrip = false;
};

void writeTiff(String const& path, TiffLayout const& layout, auto const& fillRow)
{
    TIFF* out = TIFFOpen(path.c_str(), "w");
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, layout.width);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, layout.height);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, layout.bits);
    TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(out, TIFFTAG_COMPRESSION, layout.compression);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, layout.photometric);
    if (layout.photometric == PHOTOMETRIC_RGB && layout.samples == 4) {
        std::uint16_t const alpha = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(out, TIFFTAG_EXTRASAMPLES, 1, &alpha);
    }
    if (layout.compression == COMPRESSION_LZW)
        TIFFSetField(out, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (layout.compression == COMPRESSION_JPEG) {
        TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFSetField(out, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        TIFFSetField(out, TIFFTAG_JPEGQUALITY, 90);
    }
    std::vector<std::uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize(out)));
    if (!layout.tiled) {
        TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, layout.oneStrip ? layout.height : TIFFDefaultStripSize(out, 0));
        for (int y = 0; y < layout.height; ++y) {
            fillRow(y, row.data());
            TIFFWriteScanline(out, row.data(), static_cast<std::uint32_t>(y), 0);
        }
    } else {
        TIFFSetField(out, TIFFTAG_TILEWIDTH, 256);
        TIFFSetField(out, TIFFTAG_TILELENGTH, 256);
        std::size_t const tileRow = static_cast<std::size_t>(TIFFTileRowSize(out));
        std::vector<std::uint8_t> band(row.size() * 256);
        std::vector<std::uint8_t> tile(static_cast<std::size_t>(TIFFTileSize(out)));
        for (int top = 0; top < layout.height; top += 256) {
            for (int y = top; y < std::min(layout.height, top + 256); ++y)
                fillRow(y, band.data() + static_cast<std::size_t>(y - top) * row.size());
            for (int left = 0; left < layout.width; left += 256) {
                std::size_t const start = static_cast<std::size_t>(left) * tileRow / 256;
                for (int y = 0; y < std::min(256, layout.height - top); ++y)
                    std::memcpy(tile.data() + static_cast<std::size_t>(y) * tileRow, band.data() + static_cast<std::size_t>(y) * row.size() + start,
                        std::min(tileRow, row.size() - start));
                TIFFWriteTile(out, tile.data(), static_cast<std::uint32_t>(left), static_cast<std::uint32_t>(top), 0, 0);
            }
        }
    }
    TIFFClose(out);
}

// 24 MP 8-bit RGB TIFFs of the photograph: LZW with the horizontal
// predictor, and uncompressed; a 24 MP JPEG TIFF at quality 90.
String const& cameraTiff(std::uint16_t compression)
{
    static std::map<std::uint16_t, String> paths;
    String& path = paths[compression];
    if (path.empty()) {
        path = pathOf(("camera-" + std::to_string(compression) + ".tif").c_str());
        std::mt19937 random(1);
        writeTiff(path, { .compression = compression }, [&](int y, std::uint8_t* row) { photoRow(6000, 4000, y, random, row); });
    }
    return path;
}

// The photograph as 16-bit RGBA in Deflate tiles, alpha shaded left to right.
String const& cameraTiff16()
{
    static String const path = [] {
        String p = pathOf("camera16.tif");
        std::mt19937 random(1);
        std::vector<std::uint8_t> rgb(6000 * 3);
        writeTiff(p, { .samples = 4, .bits = 16, .compression = COMPRESSION_ADOBE_DEFLATE, .tiled = true }, [&](int y, std::uint8_t* row) {
            photoRow(6000, 4000, y, random, rgb.data());
            auto* samples = reinterpret_cast<std::uint16_t*>(row);
            for (int x = 0; x < 6000; ++x) {
                for (int c = 0; c < 3; ++c)
                    samples[x * 4 + c] = static_cast<std::uint16_t>(rgb[static_cast<std::size_t>(x * 3 + c)] * 257 + (x & 0xFF));
                samples[x * 4 + 3] = static_cast<std::uint16_t>(x * 10);
            }
        });
        return p;
    }();
    return path;
}

// A 4 MP screenshot-like RGBA PNG: flat areas with a few edges, which
// compresses to almost nothing.
String const& screenshotPng()
{
    static String const path = [] {
        String p = pathOf("screenshot.png");
        writePng(p, 2560, 1600, 8, PNG_COLOR_TYPE_RGB_ALPHA, -1, [](int y, std::uint8_t* row) {
            for (int x = 0; x < 2560; ++x) {
                bool const panel = (x / 320 + y / 200) % 3 == 0;
                std::uint8_t const pixel[4] = { static_cast<std::uint8_t>(panel ? 240 : 32), static_cast<std::uint8_t>(panel ? 240 : 36),
                    static_cast<std::uint8_t>(panel ? 244 : 40), 255 };
                std::copy(pixel, pixel + 4, row + x * 4);
            }
        });
        return p;
    }();
    return path;
}

// The smooth 24 MP picture as a Targa, uncompressed or run-length coded
// (the runs of a photograph are short), and as a 24-bit BMP.
void writeTargaOrBmp(String const& path, bool bmp, bool runLength)
{
    constexpr int width = 6000, height = 4000;
    QByteArray bytes;
    auto little = [&](std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            bytes.append(static_cast<char>(value >> (8 * i)));
    };
    std::uint32_t const rowBytes = (width * 3 + 3) & ~3u;
    if (bmp) {
        bytes.append("BM");
        little(54 + rowBytes * height, 4), little(0, 4), little(54, 4);
        little(40, 4), little(width, 4), little(height, 4), little(1, 2), little(24, 2), little(0, 4), little(rowBytes * height, 4);
        little(2835, 4), little(2835, 4), little(0, 4), little(0, 4);
    } else {
        little(0, 2), little(runLength ? 10 : 2, 1), little(0, 4), little(0, 1), little(0, 4), little(width, 2), little(height, 2), little(24, 1), little(0, 1);
    }
    std::mt19937 random(1);
    std::vector<std::uint8_t> rgb(width * 3);
    for (int y = height - 1; y >= 0; --y) { // bottom-up
        photoRow(width, height, y, random, rgb.data());
        for (int x = 0; x < width; ++x)
            std::swap(rgb[x * 3], rgb[x * 3 + 2]); // stored blue first
        if (!runLength) {
            bytes.append(reinterpret_cast<char const*>(rgb.data()), width * 3);
            if (bmp)
                bytes.append(QByteArray(static_cast<qsizetype>(rowBytes - width * 3), '\0'));
            continue;
        }
        for (int x = 0; x < width;) {
            int run = 1;
            while (x + run < width && run < 128 && std::equal(&rgb[x * 3], &rgb[x * 3 + 3], &rgb[(x + run) * 3]))
                ++run;
            if (run > 1) {
                bytes.append(static_cast<char>(0x80 | (run - 1)));
                bytes.append(reinterpret_cast<char const*>(&rgb[x * 3]), 3);
            } else {
                int count = 1;
                while (x + count < width && count < 128 && (x + count + 1 >= width || !std::equal(&rgb[(x + count) * 3], &rgb[(x + count) * 3 + 3], &rgb[(x + count + 1) * 3])))
                    ++count;
                bytes.append(static_cast<char>(count - 1));
                bytes.append(reinterpret_cast<char const*>(&rgb[x * 3]), count * 3);
                run = count;
            }
            x += run;
        }
    }
    QFile out(QString::fromStdString(path));
    out.open(QIODevice::WriteOnly);
    out.write(bytes);
}

String const& cameraTarga()
{
    static String const path = [] {
        String p = pathOf("camera.tga");
        writeTargaOrBmp(p, false, false);
        return p;
    }();
    return path;
}

// The photograph as 8-bit CMYK, LZW.
String const& cameraTiffCmyk()
{
    static String const path = [] {
        String p = pathOf("camera-cmyk.tif");
        std::mt19937 random(1);
        std::vector<std::uint8_t> rgb(6000 * 3);
        writeTiff(p, { .samples = 4, .photometric = PHOTOMETRIC_SEPARATED, .compression = COMPRESSION_LZW }, [&](int y, std::uint8_t* row) {
            photoRow(6000, 4000, y, random, rgb.data());
            for (int x = 0; x < 6000; ++x) {
                std::uint8_t const k = static_cast<std::uint8_t>(255 - std::max({ rgb[x * 3], rgb[x * 3 + 1], rgb[x * 3 + 2] }));
                for (int c = 0; c < 3; ++c)
                    row[x * 4 + c] = static_cast<std::uint8_t>(255 - rgb[static_cast<std::size_t>(x * 3 + c)] - k);
                row[x * 4 + 3] = k;
            }
        });
        return p;
    }();
    return path;
}

// A fax page: A4 at 600 dpi, bilevel, CCITT G4 in one strip, with lines of
// word-like blots of ink.
String const& faxTiff()
{
    static String const path = [] {
        String p = pathOf("fax.tif");
        writeTiff(p, { .width = 4960, .height = 7016, .samples = 1, .bits = 1, .photometric = PHOTOMETRIC_MINISWHITE, .compression = COMPRESSION_CCITTFAX4, .oneStrip = true },
            [](int y, std::uint8_t* row) {
                std::fill(row, row + 620, 0);
                int const line = y / 90;
                if (y < 400 || y > 6600 || y % 90 > 50)
                    return;
                for (int x = 400; x < 4560; ++x) {
                    unsigned const word = static_cast<unsigned>(x / 300 * 7919 + line * 104729);
                    bool const gap = (x % 300) > 240 - static_cast<int>(word % 80);
                    unsigned const blot = static_cast<unsigned>((x / 6) * 2654435761u ^ (y / 6 + line) * 40503u);
                    if (!gap && (blot >> 13) % 3 == 0)
                        row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | 0x80 >> (x % 8));
                }
            });
        return p;
    }();
    return path;
}

String const& cameraRunLengthTarga()
{
    static String const path = [] {
        String p = pathOf("camera-rle.tga");
        writeTargaOrBmp(p, false, true);
        return p;
    }();
    return path;
}

String const& cameraBmp()
{
    static String const path = [] {
        String p = pathOf("camera.bmp");
        writeTargaOrBmp(p, true, false);
        return p;
    }();
    return path;
}

// A 3000 x 2000 GIF of 256 colours: the smooth picture's green channel.
String const& largeGif()
{
    static String const path = [] {
        String p = pathOf("large.gif");
        constexpr int width = 3000, height = 2000;
        int error = 0;
        GifFileType* gif = EGifOpenFileName(p.c_str(), false, &error);
        GifColorType colours[256];
        for (int i = 0; i < 256; ++i)
            colours[i] = { static_cast<GifByteType>(i), static_cast<GifByteType>(255 - i), static_cast<GifByteType>(i / 2) };
        ColorMapObject* map = GifMakeMapObject(256, colours);
        EGifPutScreenDesc(gif, width, height, 8, 0, map);
        EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr);
        std::mt19937 random(1);
        std::vector<std::uint8_t> rgb(width * 3);
        std::vector<GifPixelType> line(width);
        for (int y = 0; y < height; ++y) {
            photoRow(width, height, y, random, rgb.data());
            for (int x = 0; x < width; ++x)
                line[x] = rgb[x * 3 + 1];
            EGifPutLine(gif, line.data(), width);
        }
        EGifCloseFile(gif, &error);
        GifFreeMapObject(map);
        return p;
    }();
    return path;
}

void setFileCounters(benchmark::State& state, String const& path)
{
    state.counters["file_MiB"] = static_cast<double>(QFileInfo(QString::fromStdString(path)).size()) / 1048576.0;
}

void openWithOurReader(benchmark::State& state, String const& path)
{
    Ref<FolderItem> file = FolderItem::forPath(path);
    setFileCounters(state, path);
    for (auto _ : state) {
        Ref<Picture> picture = Picture::Open(file);
        if (!picture)
            state.SkipWithError("the file did not open");
        benchmark::DoNotOptimize(picture);
    }
}

void openWithQt(benchmark::State& state, String const& path)
{
    QImageReader::setAllocationLimit(0);
    setFileCounters(state, path);
    for (auto _ : state) {
        QImageReader reader(QString::fromStdString(path));
        QImage image = reader.read();
        if (image.isNull())
            state.SkipWithError("the file did not open");
        benchmark::DoNotOptimize(image);
    }
}

void BM_OpenCameraPng(benchmark::State& state) { openWithOurReader(state, cameraPng()); }
void BM_QtReadsCameraPng(benchmark::State& state) { openWithQt(state, cameraPng()); }
void BM_OpenCameraJpeg(benchmark::State& state) { openWithOurReader(state, cameraJpeg()); }
void BM_QtReadsCameraJpeg(benchmark::State& state) { openWithQt(state, cameraJpeg()); }
void BM_OpenSmoothJpeg(benchmark::State& state) { openWithOurReader(state, smoothJpeg()); }
void BM_QtReadsSmoothJpeg(benchmark::State& state) { openWithQt(state, smoothJpeg()); }
void BM_OpenCameraTiffLzw(benchmark::State& state) { openWithOurReader(state, cameraTiff(COMPRESSION_LZW)); }
void BM_OpenCameraTiffUncompressed(benchmark::State& state) { openWithOurReader(state, cameraTiff(COMPRESSION_NONE)); }
void BM_OpenCameraTiffJpeg(benchmark::State& state) { openWithOurReader(state, cameraTiff(COMPRESSION_JPEG)); }
void BM_OpenCameraTiff16Tiles(benchmark::State& state) { openWithOurReader(state, cameraTiff16()); }
void BM_OpenCameraTiffCmyk(benchmark::State& state) { openWithOurReader(state, cameraTiffCmyk()); }
void BM_OpenFaxTiff(benchmark::State& state) { openWithOurReader(state, faxTiff()); }
void BM_OpenScreenshotPng(benchmark::State& state) { openWithOurReader(state, screenshotPng()); }
void BM_OpenCameraTarga(benchmark::State& state) { openWithOurReader(state, cameraTarga()); }
void BM_OpenCameraRunLengthTarga(benchmark::State& state) { openWithOurReader(state, cameraRunLengthTarga()); }
void BM_OpenCameraBmp(benchmark::State& state) { openWithOurReader(state, cameraBmp()); }
void BM_OpenLargeGif(benchmark::State& state) { openWithOurReader(state, largeGif()); }

// A file opened from the window while a timer asks for repaints every 5 ms:
// the longest stretch without a paint pass.
void paintGapsWhileOpening(benchmark::State& state, String const& path)
{
    MainWindow main;
    QWidget* canvas = main.canvas("WhiteInCanvas");
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, canvas, [canvas] { canvas->update(); });
    ticker.start(5);
    PaintWatch watch(canvas);
    Ref<FolderItem> file = FolderItem::forPath(path);
    qint64 longest = 0;
    int paints = 0;
    for (auto _ : state) {
        watch.start();
        Ref<Picture> picture = Picture::Open(file);
        longest = std::max(longest, watch.finish());
        paints += watch.paints();
        if (!picture)
            state.SkipWithError("the file did not open");
    }
    state.counters["longest_gap_ms"] = static_cast<double>(longest);
    state.counters["paints_per_open_count"] = static_cast<double>(paints) / static_cast<double>(state.iterations());
}

void BM_PaintGapsOpeningCameraPng(benchmark::State& state) { paintGapsWhileOpening(state, cameraPng()); }
void BM_PaintGapsOpeningHugePng(benchmark::State& state) { paintGapsWhileOpening(state, hugePng()); }

// The file opened by a fresh process of this program, cold: the time of
// the open and the peak resident memory, beside the memory held before it.
void openInFreshProcess(benchmark::State& state, char const* self, String const& path)
{
    String const command = String(self) + " --open-once " + path;
    double peak = 0;
    double baseline = 0;
    for (auto _ : state) {
        FILE* child = popen(command.c_str(), "r");
        double before = 0, after = 0, seconds = 0;
        int const read = child ? std::fscanf(child, "%lf %lf %lf", &before, &after, &seconds) : 0;
        if (!child || pclose(child) != 0 || read != 3) {
            state.SkipWithError("the child did not open the file");
            break;
        }
        state.SetIterationTime(seconds);
        peak = std::max(peak, after);
        baseline = before;
    }
    state.counters["peak_MiB"] = peak;
    state.counters["before_open_MiB"] = baseline;
}

void BM_ColdOpenCameraPng(benchmark::State& state, char const* self) { openInFreshProcess(state, self, cameraPng()); }
void BM_ColdOpenCameraJpeg(benchmark::State& state, char const* self) { openInFreshProcess(state, self, cameraJpeg()); }
void BM_ColdOpenFaxTiff(benchmark::State& state, char const* self)
{
    openInFreshProcess(state, self, faxTiff());
    state.counters["picture_MiB"] = 4960.0 * 7016.0 * 4.0 / 1048576.0;
}
void BM_ColdOpenHugePng(benchmark::State& state, char const* self)
{
    openInFreshProcess(state, self, hugePng());
    state.counters["picture_MiB"] = 16384.0 * 16384.0 * 4.0 / 1048576.0;
}

// Damaged files: a JPEG of a few hundred bytes whose frame claims 16384 x
// 16384 pixels, and the camera PNG cut in the middle of its pixels.
String const& damagedJpeg()
{
    static String const path = [] {
        QFile whole(QString::fromStdString(cameraJpeg()));
        whole.open(QIODevice::ReadOnly);
        QByteArray bytes = whole.read(400);
        qsizetype const frame = bytes.indexOf("\xFF\xC0");
        bytes.replace(frame + 5, 4, QByteArray("\x40\x00\x40\x00", 4));
        String p = pathOf("damaged.jpg");
        QFile out(QString::fromStdString(p));
        out.open(QIODevice::WriteOnly);
        out.write(bytes);
        return p;
    }();
    return path;
}

String const& cutPng()
{
    static String const path = [] {
        QFile whole(QString::fromStdString(cameraPng()));
        whole.open(QIODevice::ReadOnly);
        String p = pathOf("cut.png");
        QFile out(QString::fromStdString(p));
        out.open(QIODevice::WriteOnly);
        out.write(whole.read(whole.size() / 2));
        return p;
    }();
    return path;
}

// Valid files of 40000 x 3000 pixels, wider than any picture may be: a
// grey JPEG and a 1-bit PNG. They are refused once the header is read.
String const& tooWideJpeg()
{
    static String const path = [] {
        String p = pathOf("too-wide.jpg");
        FILE* out = std::fopen(p.c_str(), "wb");
        jpeg_compress_struct cinfo {};
        jpeg_error_mgr errors {};
        cinfo.err = jpeg_std_error(&errors);
        jpeg_create_compress(&cinfo);
        jpeg_stdio_dest(&cinfo, out);
        cinfo.image_width = 40000;
        cinfo.image_height = 3000;
        cinfo.input_components = 1;
        cinfo.in_color_space = JCS_GRAYSCALE;
        jpeg_set_defaults(&cinfo);
        jpeg_start_compress(&cinfo, TRUE);
        std::vector<std::uint8_t> row(40000);
        for (int y = 0; y < 3000; ++y) {
            for (int x = 0; x < 40000; ++x)
                row[x] = static_cast<std::uint8_t>(x / 64 + y / 16);
            JSAMPROW rows[] = { row.data() };
            jpeg_write_scanlines(&cinfo, rows, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        std::fclose(out);
        return p;
    }();
    return path;
}

String const& tooWidePng()
{
    static String const path = [] {
        String p = pathOf("too-wide.png");
        writePng(p, 40000, 3000, 1, PNG_COLOR_TYPE_GRAY, -1, [](int y, std::uint8_t* row) { std::fill(row, row + 5000, static_cast<std::uint8_t>(y % 3 ? 0xF0 : 0x0F)); });
        return p;
    }();
    return path;
}

void refuseTooWide(benchmark::State& state, String const& path)
{
    Ref<FolderItem> file = FolderItem::forPath(path);
    setFileCounters(state, path);
    for (auto _ : state) {
        try {
            Picture::Open(file);
            state.SkipWithError("the file was not refused");
        } catch (RaisedException const&) {
        }
    }
}

void BM_RefuseTooWideJpeg(benchmark::State& state) { refuseTooWide(state, tooWideJpeg()); }
void BM_RefuseTooWidePng(benchmark::State& state) { refuseTooWide(state, tooWidePng()); }

void openDamaged(benchmark::State& state, String const& path)
{
    Ref<FolderItem> file = FolderItem::forPath(path);
    setFileCounters(state, path);
    for (auto _ : state) {
        if (Picture::Open(file))
            state.SkipWithError("the damaged file opened");
    }
}

void BM_OpenDamagedJpegClaimingHugeSize(benchmark::State& state) { openDamaged(state, damagedJpeg()); }
void BM_OpenCameraPngCutInHalf(benchmark::State& state) { openDamaged(state, cutPng()); }

double peakResidentMiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The child's part: open the file once, then tell the peak memory before and
// after, and the seconds the open took.
int openOnce(char const* path)
{
    double const before = peakResidentMiB();
    QElapsedTimer clock;
    clock.start();
    Ref<Picture> picture = Picture::Open(FolderItem::forPath(path));
    double const seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    std::printf("%f %f %f\n", before, peakResidentMiB(), seconds);
    return picture ? 0 : 1;
}

}

BENCHMARK(BM_OpenCameraPng)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_QtReadsCameraPng)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenCameraJpeg)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_QtReadsCameraJpeg)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenSmoothJpeg)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_QtReadsSmoothJpeg)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenCameraTiffLzw)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenCameraTiffUncompressed)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenCameraTiffJpeg)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenCameraTiff16Tiles)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenCameraTiffCmyk)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenFaxTiff)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenScreenshotPng)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenCameraTarga)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenCameraRunLengthTarga)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenCameraBmp)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenLargeGif)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_PaintGapsOpeningCameraPng)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_PaintGapsOpeningHugePng)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_OpenDamagedJpegClaimingHugeSize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefuseTooWideJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefuseTooWidePng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCameraPngCutInHalf)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc == 3 && String(argv[1]) == "--open-once")
        return openOnce(argv[2]);
    if (argc == 3 && String(argv[1]) == "--write-inputs") {
        // The files alone, for measuring other decoders on them.
        inputFolder = argv[2];
        std::printf("%s\n%s\n%s\n%s\n", cameraPng().c_str(), cameraJpeg().c_str(), smoothJpeg().c_str(), hugePng().c_str());
        return 0;
    }
    Imagetypes::Initialize_();
    // Fresh processes of this program, which need its path.
    using Run = void (*)(benchmark::State&, char const*);
    std::pair<char const*, Run> const coldRuns[] { { "BM_ColdOpenCameraPng", BM_ColdOpenCameraPng }, { "BM_ColdOpenCameraJpeg", BM_ColdOpenCameraJpeg }, { "BM_ColdOpenFaxTiff", BM_ColdOpenFaxTiff }, { "BM_ColdOpenHugePng", BM_ColdOpenHugePng } };
    for (auto [name, run] : coldRuns)
        benchmark::RegisterBenchmark(name, run, argv[0])->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
    return runBenchmarks(argc, argv);
}
