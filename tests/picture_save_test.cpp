#include "runtime/Exceptions.h"
#include "runtime/FolderItem.h"
#include "runtime/Picture.h"
#include "support/Raises.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <sys/mount.h>
#include <sys/wait.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

// ---- The file's chunks -----------------------------------------------------

struct Chunk {
    qsizetype at; // where its length field starts
    std::uint32_t length;
    std::string type;
};

std::uint32_t wordAt(QByteArray const& bytes, qsizetype at)
{
    auto const byte = [&](qsizetype i) { return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + i])); };
    return byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
}

std::vector<Chunk> chunksOf(QByteArray const& bytes)
{
    std::vector<Chunk> chunks;
    for (qsizetype at = 8; at + 12 <= bytes.size();) {
        std::uint32_t const length = wordAt(bytes, at);
        chunks.push_back({ at, length, bytes.mid(at + 4, 4).toStdString() });
        at += 12 + length;
    }
    return chunks;
}

void putWordAt(QByteArray& bytes, qsizetype at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

// The chunk's CRC made right again after a change to its data.
void fixCrc(QByteArray& bytes, Chunk const& chunk)
{
    auto const* data = reinterpret_cast<Bytef const*>(bytes.constData() + chunk.at + 4);
    putWordAt(bytes, chunk.at + 8 + chunk.length, static_cast<std::uint32_t>(crc32(0, data, chunk.length + 4)));
}

// libpng stops inflating once it has every row and does not insist on the
// stream's end: zlib's own inflate checks the whole stream, with its Adler-32,
// over the data of all IDAT chunks, and that it ends with the last of them.
std::string streamFailure(QByteArray const& bytes)
{
    QByteArray data;
    for (Chunk const& chunk : chunksOf(bytes)) {
        if (chunk.type == "IDAT")
            data += bytes.mid(chunk.at + 8, chunk.length);
    }
    z_stream stream {};
    if (inflateInit(&stream) != Z_OK)
        return "no inflate";
    std::vector<Bytef> out(1 << 16);
    stream.next_in = reinterpret_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        status = inflate(&stream, Z_NO_FLUSH);
    }
    std::string const message = stream.msg ? stream.msg : "";
    inflateEnd(&stream);
    if (status != Z_STREAM_END)
        return "inflate: " + std::to_string(status) + " " + message;
    if (stream.avail_in != 0)
        return "data after the stream's end";
    return {};
}

// ---- An independent decoder ------------------------------------------------

// What libpng makes of a file when every check counts: a bad CRC in any
// chunk, a bad stream (see streamFailure), bytes after the end, and every
// warning fail the decode.
struct StrictDecode {
    std::string failure;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint32_t> pixels; // straight ARGB words
};

struct ReadState {
    QByteArray const* bytes;
    std::size_t at = 0;
    std::string complaint;
};

void readBytes(png_structp png, png_bytep out, png_size_t count)
{
    auto* state = static_cast<ReadState*>(png_get_io_ptr(png));
    if (state->at + count > static_cast<std::size_t>(state->bytes->size()))
        png_error(png, "the file ends early");
    std::memcpy(out, state->bytes->constData() + state->at, count);
    state->at += count;
}

void onError(png_structp png, png_const_charp message)
{
    static_cast<ReadState*>(png_get_error_ptr(png))->complaint = message;
    png_longjmp(png, 1);
}

void onWarning(png_structp png, png_const_charp message)
{
    auto* state = static_cast<ReadState*>(png_get_error_ptr(png));
    if (state->complaint.empty())
        state->complaint = message;
}

StrictDecode decodeStrictly(QByteArray const& bytes)
{
    StrictDecode decoded;
    ReadState state { &bytes, 0, {} };
    std::vector<std::uint8_t> rgba;
    std::vector<png_bytep> rows;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, onError, onWarning);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        decoded.failure = state.complaint;
        return decoded;
    }
    png_set_read_fn(png, &state, readBytes);
    png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
    png_set_benign_errors(png, 0);
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_OFF);
    png_read_info(png, info);
    if (png_get_bit_depth(png, info) != 8 || png_get_color_type(png, info) != PNG_COLOR_TYPE_RGBA
        || png_get_interlace_type(png, info) != PNG_INTERLACE_NONE)
        png_error(png, "not an 8-bit RGBA picture without interlace");
    decoded.width = static_cast<std::int32_t>(png_get_image_width(png, info));
    decoded.height = static_cast<std::int32_t>(png_get_image_height(png, info));
    rgba.resize(4 * static_cast<std::size_t>(decoded.width) * static_cast<std::size_t>(decoded.height));
    for (std::int32_t y = 0; y < decoded.height; ++y)
        rows.push_back(rgba.data() + 4 * static_cast<std::size_t>(decoded.width) * static_cast<std::size_t>(y));
    png_read_image(png, rows.data());
    png_read_end(png, info); // the chunks after the image, and the stream's end
    png_destroy_read_struct(&png, &info, nullptr);
    if (state.at != static_cast<std::size_t>(bytes.size()))
        state.complaint = "bytes after the end";
    decoded.failure = state.complaint.empty() ? streamFailure(bytes) : state.complaint;
    for (std::size_t i = 0; i < rgba.size(); i += 4)
        decoded.pixels.push_back(std::uint32_t { rgba[i + 3] } << 24 | std::uint32_t { rgba[i] } << 16 | std::uint32_t { rgba[i + 1] } << 8 | rgba[i + 2]);
    return decoded;
}

// ---- Pictures --------------------------------------------------------------

enum class Alpha { Clear, Opaque, Graded, Random };
enum class Colours { Noise, Smooth };

char const* nameOf(Alpha alpha)
{
    char const* const names[] = { "clear", "opaque", "graded", "random" };
    return names[static_cast<int>(alpha)];
}

std::vector<std::uint32_t> pixelsFor(std::int32_t width, std::int32_t height, Alpha alpha, Colours colours)
{
    std::mt19937 random(static_cast<unsigned>(width * 31 + height));
    std::vector<std::uint32_t> pixels;
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint32_t const colour = colours == Colours::Noise
                ? random() & 0xFFFFFF
                : static_cast<std::uint32_t>((x & 0xFF) << 16 | (y & 0xFF) << 8 | ((x + y) >> 2 & 0xFF));
            std::uint32_t a = 0;
            switch (alpha) {
            case Alpha::Clear: a = 0; break;
            case Alpha::Opaque: a = 255; break;
            case Alpha::Graded: a = static_cast<std::uint32_t>((x + 3 * y) & 0xFF); break;
            case Alpha::Random: a = random() & 0xFF; break;
            }
            pixels.push_back(a << 24 | colour);
        }
    }
    return pixels;
}

Ref<Picture> pictureOf(std::int32_t width, std::int32_t height, std::vector<std::uint32_t> const& pixels)
{
    Ref<Picture> picture = Picture::create(width, height);
    for (std::int32_t y = 0; y < height; ++y)
        std::copy_n(pixels.begin() + static_cast<std::ptrdiff_t>(y) * width, width, picture->row(y));
    return picture;
}

std::vector<std::uint32_t> qtRead(QString const& path)
{
    QImage image(path);
    image.convertTo(QImage::Format_ARGB32);
    std::vector<std::uint32_t> pixels;
    for (int y = 0; y < image.height(); ++y) {
        auto const* line = reinterpret_cast<std::uint32_t const*>(image.constScanLine(y));
        pixels.insert(pixels.end(), line, line + image.width());
    }
    return pixels;
}

QByteArray contentOf(QString const& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entriesOf(QString const& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

struct Size {
    std::int32_t width, height;
};

// ---- Round trips -------------------------------------------------------------

// One pixel; odd widths; one row and one column; a few hundred rows; and
// pictures of several bands each, one with rows longer than the 32 KiB that
// deflate can reach back.
Size const sizes[] = { { 1, 1 }, { 2, 3 }, { 7, 5 }, { 301, 1 }, { 1, 300 }, { 255, 257 }, { 1001, 600 }, { 9001, 40 } };

TEST(PictureSave, EverySizeAndAlphaComesBackExactlyThroughQtAndAStrictDecoder)
{
    QTemporaryDir folder;
    for (Size const size : sizes) {
        for (Alpha const alpha : { Alpha::Clear, Alpha::Opaque, Alpha::Graded, Alpha::Random }) {
            for (Colours const colours : { Colours::Noise, Colours::Smooth }) {
                SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height) + ", alpha " + nameOf(alpha)
                    + (colours == Colours::Noise ? ", noise" : ", smooth"));
                std::vector<std::uint32_t> const pixels = pixelsFor(size.width, size.height, alpha, colours);
                QString const path = folder.filePath("out.png");
                pictureOf(size.width, size.height, pixels)->Save(FolderItem::forPath(path.toStdString()), 150, -1);

                EXPECT_EQ(qtRead(path), pixels);
                StrictDecode const strict = decodeStrictly(contentOf(path));
                EXPECT_EQ(strict.failure, "");
                EXPECT_EQ(strict.width, size.width);
                EXPECT_EQ(strict.height, size.height);
                EXPECT_EQ(strict.pixels, pixels);
            }
        }
    }
    EXPECT_EQ(entriesOf(folder.path()), QStringList { "out.png" });
}

TEST(PictureSave, TheFileIsHeaderImageDataAndEndAndALargePictureComesInSeveralDataChunks)
{
    QTemporaryDir folder;
    QString const path = folder.filePath("out.png");
    pictureOf(1001, 600, pixelsFor(1001, 600, Alpha::Random, Colours::Noise))->Save(FolderItem::forPath(path.toStdString()), 150, -1);
    QByteArray const bytes = contentOf(path);
    ASSERT_TRUE(bytes.startsWith("\x89PNG\r\n\x1A\n"));
    std::vector<Chunk> const chunks = chunksOf(bytes);
    ASSERT_GE(chunks.size(), 4u);
    EXPECT_EQ(chunks.front().type, "IHDR");
    EXPECT_EQ(chunks.back().type, "IEND");
    for (std::size_t i = 1; i + 1 < chunks.size(); ++i)
        EXPECT_EQ(chunks[i].type, "IDAT");
    EXPECT_EQ(chunks.back().at + 12, bytes.size());
}

// The strict decoder would pass a damaged file unnoticed if it did not check
// what it claims to: each damage below must fail it.
TEST(PictureSave, TheStrictDecoderNoticesABadChunkCrcAndABadAdler32)
{
    QTemporaryDir folder;
    QString const path = folder.filePath("out.png");
    pictureOf(255, 257, pixelsFor(255, 257, Alpha::Graded, Colours::Smooth))->Save(FolderItem::forPath(path.toStdString()), 150, -1);
    QByteArray const good = contentOf(path);
    ASSERT_EQ(decodeStrictly(good).failure, "");
    std::vector<Chunk> const chunks = chunksOf(good);
    Chunk const lastData = chunks[chunks.size() - 2];
    ASSERT_EQ(lastData.type, "IDAT");

    QByteArray badCrc = good;
    qsizetype const crcAt = lastData.at + 8 + lastData.length;
    badCrc[crcAt] = static_cast<char>(badCrc[crcAt] ^ 1);
    EXPECT_NE(decodeStrictly(badCrc).failure, "");

    // The Adler-32 closes the stream: the last four bytes of the last data.
    QByteArray badAdler = good;
    qsizetype const adlerAt = lastData.at + 8 + lastData.length - 4;
    badAdler[adlerAt + 3] = static_cast<char>(badAdler[adlerAt + 3] ^ 1);
    fixCrc(badAdler, lastData);
    EXPECT_NE(decodeStrictly(badAdler).failure, "");
}

// Counts a widget's paints.
class PaintCount : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

// A save takes a while for a large picture; meanwhile the window is painted
// as asked, and the save still returns only once the file is whole.
TEST(PictureSave, TheWindowIsPaintedWhileALargePictureIsSaved)
{
    QWidget window;
    window.resize(200, 100);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    PaintCount count;
    window.installEventFilter(&count);
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &window, [&window] { window.update(); });
    ticker.start(5);
    QTest::qWait(20);

    std::vector<std::uint32_t> const pixels = pixelsFor(3000, 2000, Alpha::Random, Colours::Noise);
    QTemporaryDir folder;
    QString const path = folder.filePath("out.png");
    int const paintsBefore = count.paints;
    pictureOf(3000, 2000, pixels)->Save(FolderItem::forPath(path.toStdString()), 150, -1);
    EXPECT_GT(count.paints, paintsBefore);
    EXPECT_EQ(qtRead(path), pixels);
}

// ---- Failures ----------------------------------------------------------------

// What a call in a file system of its own gave back; or, when that file
// system could not be made, which step the system refused and why.
struct OwnFileSystemRun {
    bool made = false;
    std::string text;
};

// Runs the call in a child process with a small file system of its own,
// mounted in a mount namespace of the child's over a fresh folder, and gives
// back what the call returned. Nothing of the mount outlives the child.
// Making the namespace and the mount takes the right to mount, which root in
// a container or a chroot may lack.
OwnFileSystemRun inOwnFileSystem(unsigned long flags, char const* options, std::function<std::string(QString const&)> const& call)
{
    constexpr int NotMade = 77;
    QTemporaryDir folder;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return { true, std::string("pipe: ") + std::strerror(errno) };
    pid_t const child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        std::string const where = folder.path().toStdString();
        char const* refused = nullptr;
        if (unshare(CLONE_NEWNS) != 0)
            refused = "unshare(CLONE_NEWNS)";
        else if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            refused = "mount(/, MS_REC | MS_PRIVATE)";
        else if (mount("vantrel-test", where.c_str(), "tmpfs", flags, options) != 0)
            refused = "mount(tmpfs)";
        std::string const result = refused ? std::string(refused) + ": " + std::strerror(errno) : call(folder.path());
        ssize_t const written = write(pipeEnds[1], result.data(), result.size());
        _exit(refused ? NotMade : written == static_cast<ssize_t>(result.size()) ? 0 : 1);
    }
    close(pipeEnds[1]);
    std::string result;
    char buffer[4096];
    for (ssize_t count; (count = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        result.append(buffer, static_cast<std::size_t>(count));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == NotMade)
        return { false, result };
    // A child that ended otherwise, like a failed pipe above, gives a text
    // that fails the test's comparison.
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return { true, "the child ended with status " + std::to_string(status) + " after: " + result };
    return { true, result };
}

// The class and message of what the save raised, with the folder written as
// FOLDER.
std::string messageOfSave(Picture& picture, QString const& path, QString const& folder)
{
    Ref<RuntimeException> const raised = raisedBy([&] { picture.Save(FolderItem::forPath(path.toStdString()), 150, -1); });
    if (!raised)
        return "nothing raised";
    return QString::fromStdString(raised->classRecord().name + ": " + raised->Message).replace(folder, "FOLDER").toStdString();
}

TEST(PictureSave, AFullDiskSaysSoAndLeavesTheOldFileWholeAndNoOtherFile)
{
    // Noise does not compress: its file is far larger than the disk.
    Ref<Picture> const picture = pictureOf(256, 256, pixelsFor(256, 256, Alpha::Random, Colours::Noise));
    OwnFileSystemRun const seen = inOwnFileSystem(0, "size=64k", [&](QString const& folder) {
        QString const path = folder + "/vantrel.png";
        QFile old(path);
        old.open(QIODevice::WriteOnly);
        old.write("the old picture");
        old.close();
        return messageOfSave(*picture, path, folder) + "|" + entriesOf(folder).join(",").toStdString() + "|" + contentOf(path).toStdString();
    });
    if (!seen.made)
        GTEST_SKIP() << "needs a file system of its own, which could not be made: " << seen.text;
    EXPECT_EQ(seen.text, "IOException: The picture could not be saved to FOLDER/vantrel.png: No space left on device|vantrel.png|the old picture");
}

TEST(PictureSave, AReadOnlyFolderSaysSoAndGetsNoFile)
{
    Ref<Picture> const picture = pictureOf(16, 16, pixelsFor(16, 16, Alpha::Graded, Colours::Smooth));
    OwnFileSystemRun const seen = inOwnFileSystem(MS_RDONLY, "size=64k", [&](QString const& folder) {
        return messageOfSave(*picture, folder + "/vantrel.png", folder) + "|" + entriesOf(folder).join(",").toStdString();
    });
    if (!seen.made)
        GTEST_SKIP() << "needs a file system of its own, which could not be made: " << seen.text;
    EXPECT_EQ(seen.text, "IOException: The picture could not be saved to FOLDER/vantrel.png: Read-only file system|");
}

TEST(PictureSave, AMissingFolderSaysSoAndIsNotMade)
{
    QTemporaryDir folder;
    Ref<Picture> const picture = Picture::create(2, 2);
    EXPECT_EQ(messageOfSave(*picture, folder.filePath("missing/vantrel.png"), folder.path()),
        "IOException: The picture could not be saved to FOLDER/missing/vantrel.png: No such file or directory");
    EXPECT_EQ(entriesOf(folder.path()), QStringList {});
}

}
