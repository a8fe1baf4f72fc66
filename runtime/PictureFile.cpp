// Reading pictures from files and writing them back: Picture::Open,
// Picture::Save and Picture::fromImage.

#include "runtime/Exceptions.h"
#include "runtime/FolderItem.h"
#include "runtime/Picture.h"
#include "runtime/BackgroundTask.h"
#include "runtime/imageformats/PngWriter.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QImage>
#include <QImageReader>
#include <QSaveFile>

#include <magick/api.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string_view>
#include <system_error>
#include <thread>

namespace {

// The largest picture a file may hold: 2^28 pixels, 1 GiB as ARGB words,
// e.g. 16384 x 16384. Larger ones raise OutOfMemoryException instead of
// taking the machine's memory.
constexpr qint64 MaximumPixels = qint64 { 1 } << 28;

// Qt's readers refuse images above their own allocation limit, 256 MB by
// default. Some decode into 8 bytes a pixel (16 bits a channel) before the
// picture converts them, so the limit allows that much for the largest
// picture.
constexpr int ReaderLimitMegabytes = static_cast<int>((MaximumPixels * 8) >> 20);

// Files are read whole into memory before they are decoded; none that holds
// an allowed picture comes near this, not even one of 16 bits a channel
// without compression.
constexpr qint64 MaximumFileBytes = MaximumPixels * 8;

constexpr std::int32_t PngFormat = 150;

[[noreturn]] void raiseTooLarge(String const& path, qint64 width, qint64 height)
{
    Raise<OutOfMemoryException>("The picture in " + path + " is " + std::to_string(width) + " x "
        + std::to_string(height) + " pixels, too large to hold in memory");
}

void checkSize(String const& path, qint64 width, qint64 height)
{
    if (width * height > MaximumPixels)
        raiseTooLarge(path, width, height);
}

// ---- Qt's readers -------------------------------------------------------

// One of Qt's readers, the signatures that a file of its format starts
// with, and how the reader asks for data: exactly the bytes that it needs
// next, or in chunks of a fixed size that run past the end of a complete
// file too. The signatures are checked here because not every reader checks
// them itself: one would take any bytes that happen to parse.
struct QtFormat {
    char const* name;
    std::array<std::string_view, 2> signatures;
    bool readsExactly;
};

using namespace std::string_view_literals;

// Formats recognised by the content of the file, whatever its name. They
// are tried before the ones that go by the name.
constexpr std::array<QtFormat, 5> formatsKnownByContent { {
    { "png", { "\x89PNG\r\n\x1A\n"sv, {} }, true },
    { "jpeg", { "\xFF\xD8\xFF"sv, {} }, false },
    { "gif", { "GIF87a"sv, "GIF89a"sv }, false },
    { "tiff", { "II*\0"sv, "MM\0*"sv }, true },
    { "bmp", { "BM"sv, {} }, true },
} };

// Targa files carry no signature; only their name marks them.
constexpr QtFormat targaFormat { "tga", {}, true };

bool startsWithSignature(QByteArray const& bytes, QtFormat const& format)
{
    std::string_view const content(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return std::any_of(format.signatures.begin(), format.signatures.end(),
        [&](std::string_view signature) { return !signature.empty() && content.starts_with(signature); });
}

void allowLargeImages()
{
    static bool const done = [] {
        QImageReader::setAllocationLimit(ReaderLimitMegabytes);
        return true;
    }();
    (void)done;
}

// The file's bytes as a device for Qt's readers, noting whether, while the
// pixels are read, the reader asks for more than the file holds. Such a
// file stops before its picture does, and some readers fill in the rest and
// report success, which would hand on a picture that is partly blank.
//
// The file's content may be followed by bytes added for the reader's sake;
// they do not count as content. The device is no QBuffer on purpose: some
// readers take a QBuffer's bytes directly, past any watching.
class WatchedBytes final : public QIODevice {
public:
    WatchedBytes(QByteArray bytes, qint64 contentEnd, bool readsExactly)
        : m_bytes(std::move(bytes))
        , m_contentEnd(contentEnd)
        , m_readsExactly(readsExactly)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

    qint64 size() const override { return m_bytes.size(); }
    void startWatching() { m_watching = true; }
    bool ranOut() const { return m_ranOut; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        qint64 const at = pos();
        // A reader that asks for chunks runs out only when it asks for more
        // once it has had every byte.
        qint64 const needed = m_readsExactly ? maxSize : 1;
        if (m_watching && maxSize > 0 && at + needed > m_contentEnd)
            m_ranOut = true;
        qint64 const count = std::clamp<qint64>(m_bytes.size() - at, 0, maxSize);
        if (count > 0)
            std::memcpy(data, m_bytes.constData() + at, static_cast<std::size_t>(count));
        return count;
    }
    qint64 writeData(char const*, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_contentEnd;
    bool m_readsExactly;
    bool m_watching = false;
    bool m_ranOut = false;
};

// The bytes decoded by the given format's reader alone: nothing when that
// reader does not recognise them, a null image when they do not decode.
// Only the bytes up to contentEnd are the file's own. Photographs are turned
// upright as their orientation tag says, since the saved result carries no
// such tag.
std::optional<QImage> readWithQt(QByteArray const& bytes, qint64 contentEnd, QtFormat format, String const& path)
{
    WatchedBytes device(bytes, contentEnd, format.readsExactly);
    QImageReader reader(&device, format.name);
    reader.setAutoDetectImageFormat(false);
    if (!reader.canRead())
        return std::nullopt;
    reader.setAutoTransform(true);
    QSize const size = reader.size();
    if (size.isValid())
        checkSize(path, size.width(), size.height());

    device.startWatching();
    QImage image;
    if (!reader.read(&image) || device.ranOut())
        return QImage();
    return image;
}

// Qt's Targa reader takes only files that end in the footer of the format's
// second version. Older files are the same but for the footer, so one
// without it gets an empty footer for reading.
QByteArray withTargaFooter(QByteArray const& bytes)
{
    static constexpr char footer[] = "\0\0\0\0\0\0\0\0TRUEVISION-XFILE.";
    QByteArray const ending(footer, sizeof footer); // with the closing zero
    if (bytes.endsWith(ending))
        return bytes;
    return bytes + ending;
}

// ---- PICT through the decoder library -------------------------------------

bool hasPictExtension(QString const& path)
{
    QString const suffix = QFileInfo(path).suffix().toLower();
    return suffix == "pict" || suffix == "pic" || suffix == "pct";
}

// A PICT file starts with a 512-byte header of its own, then the picture's
// size and frame (10 bytes), then the version opcode: 0x0011 0x02FF for
// version 2, 0x11 0x01 for version 1.
bool hasPictSignature(QByteArray const& bytes)
{
    if (bytes.size() < 526)
        return false;
    char const* version = bytes.constData() + 522;
    return std::memcmp(version, "\x00\x11\x02\xFF", 4) == 0 || std::memcmp(version, "\x11\x01", 2) == 0;
}

void ignoreMessage(ExceptionType, char const*, char const*) { }

// The library is started once, without signal handlers of its own and
// without its messages on stderr, and held to the same size limit as Qt's
// readers.
void startPictDecoder()
{
    static bool const started = [] {
        ExceptionInfo exception;
        GetExceptionInfo(&exception);
        InitializeMagickEx(nullptr, MAGICK_OPT_NO_SIGNAL_HANDER, &exception);
        DestroyExceptionInfo(&exception);
        SetWarningHandler(ignoreMessage);
        SetErrorHandler(ignoreMessage);
        SetMagickResourceLimit(PixelsResource, MaximumPixels);
        return true;
    }();
    (void)started;
}

struct ImageInfoDeleter {
    void operator()(ImageInfo* info) const { DestroyImageInfo(info); }
};
struct ImageListDeleter {
    void operator()(Image* image) const { DestroyImageList(image); }
};

// The library's exception record, released when it goes.
class MagickException {
public:
    MagickException() { GetExceptionInfo(&m_info); }
    ~MagickException() { DestroyExceptionInfo(&m_info); }
    MagickException(MagickException const&) = delete;
    MagickException& operator=(MagickException const&) = delete;

    ExceptionInfo* get() { return &m_info; }
    ExceptionType severity() const { return m_info.severity; }
    // Errors, and warnings that the data is damaged, mean the picture is not
    // whole; other warnings do not.
    bool failed() const { return severity() >= ErrorException || severity() == CorruptImageWarning; }
    bool overLimit() const { return severity() == ResourceLimitError || severity() == ResourceLimitWarning; }

private:
    ExceptionInfo m_info;
};

void makeOpaque(QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        std::for_each(line, line + image.width(), [](std::uint32_t& pixel) { pixel |= 0xFF000000u; });
    }
}

// Decodes the bytes with the library's PICT coder and no other. Naming the
// format in the file name as "PICT:" is what keeps the library from choosing
// a decoder by sniffing the content; the format field alone does not.
QImage readPict(QByteArray const& data, String const& path)
{
    startPictDecoder();
    std::unique_ptr<ImageInfo, ImageInfoDeleter> info(CloneImageInfo(nullptr));
    if (!info)
        Raise<OutOfMemoryException>("There is not enough memory to read " + path);
    std::strncpy(info->magick, "PICT", MaxTextExtent - 1);
    std::strncpy(info->filename, "PICT:", MaxTextExtent - 1);

    MagickException exception;
    std::unique_ptr<Image, ImageListDeleter> decoded(BlobToImage(info.get(), data.constData(), static_cast<size_t>(data.size()), exception.get()));
    if (exception.overLimit())
        Raise<OutOfMemoryException>("The picture in " + path + " is too large to hold in memory");
    if (!decoded || exception.failed() || std::strcmp(decoded->magick, "PICT") != 0 || decoded->columns == 0 || decoded->rows == 0)
        return {};
    qint64 const width = static_cast<qint64>(decoded->columns);
    qint64 const height = static_cast<qint64>(decoded->rows);
    if (width > MaximumPixels || height > MaximumPixels)
        raiseTooLarge(path, width, height);
    checkSize(path, width, height);

    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
    if (image.isNull())
        raiseTooLarge(path, width, height);
    // Format_ARGB32 keeps each pixel as one word 0xAARRGGBB, so the bytes
    // in memory run B, G, R, A on a little-endian machine.
    char const* const order = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "BGRA" : "ARGB";
    if (!DispatchImage(decoded.get(), 0, 0, decoded->columns, decoded->rows, order, CharPixel, image.bits(), exception.get()))
        return {};
    // The library fills in no alpha for a picture without it: such a
    // picture is opaque.
    if (!decoded->matte)
        makeOpaque(image);
    return image;
}

// ---- Choosing the decoder -------------------------------------------------

bool hasTargaExtension(QString const& path)
{
    QString const suffix = QFileInfo(path).suffix().toLower();
    return suffix == "tga" || suffix == "targa";
}

// The file's whole content, or a null array when it cannot be read. Only
// plain files are read: reading a pipe or a device could block for ever.
QByteArray readFile(QString const& path, String const& pathText)
{
    if (!QFileInfo(path).isFile())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    if (file.size() > MaximumFileBytes)
        Raise<OutOfMemoryException>("The file " + pathText + " is too large to hold in memory");
    QByteArray bytes = file.readAll();
    if (bytes.size() != file.size() || bytes.isEmpty())
        return {};
    return bytes;
}

// The file decoded by the first decoder that recognises it, or a null image.
QImage decodeFile(QString const& path, String const& pathText)
{
    QByteArray const bytes = readFile(path, pathText);
    if (bytes.isNull())
        return {};

    allowLargeImages();
    for (QtFormat const& format : formatsKnownByContent) {
        if (!startsWithSignature(bytes, format))
            continue;
        if (std::optional<QImage> image = readWithQt(bytes, bytes.size(), format, pathText))
            return *image;
    }
    if (hasPictExtension(path) || hasPictSignature(bytes))
        return readPict(bytes, pathText);
    if (hasTargaExtension(path))
        return readWithQt(withTargaFooter(bytes), bytes.size(), targaFormat, pathText).value_or(QImage());
    return {};
}

// ---- Writing --------------------------------------------------------------

void checkFormat(std::int32_t format)
{
    if (format != PngFormat)
        Raise<RuntimeException>("The picture format " + std::to_string(format) + " is not one that pictures can be saved in");
}

[[noreturn]] void raiseWriteFailure(String const& path, QString const& reason)
{
    Raise<IOException>("The picture could not be saved to " + path + ": " + reason.toStdString());
}

// Writes all the bytes or raises with the system's reason. A write that
// stops short (the disk filled up) has written what fitted and says no more;
// the write of the rest then fails at once, with the reason.
void writeAll(QSaveFile& output, std::span<std::uint8_t const> bytes, String const& path)
{
    while (!bytes.empty()) {
        qint64 const written = output.write(reinterpret_cast<char const*>(bytes.data()), static_cast<qint64>(bytes.size()));
        if (written <= 0)
            raiseWriteFailure(path, output.errorString());
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
}

// Brings the written bytes to the disk on another thread while this one
// keeps the window painted: on a slow disk that is what takes longest. The
// commit that follows finds nothing left to bring. A failure is raised here,
// since the system reports it only once.
void syncWhilePainting(QSaveFile& output, String const& path)
{
    int const descriptor = output.handle();
    if (descriptor < 0)
        return;
    std::atomic<bool> done { false };
    int failure = 0;
    try {
        std::jthread const syncing([&] {
            if (fdatasync(descriptor) != 0)
                failure = errno;
            done = true;
        });
        while (!done) {
            background_task::yieldIfDue();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    } catch (std::system_error const&) {
        return; // no thread to be had: the commit brings the bytes itself
    }
    if (failure != 0)
        raiseWriteFailure(path, QString::fromLocal8Bit(std::strerror(failure)));
}

}

Ref<Picture> Picture::Open(Ref<FolderItem> const& file)
{
    FolderItem const& item = file.checked();
    try {
        QImage image = decodeFile(QString::fromStdString(item.path()), item.path());
        if (image.isNull())
            return nullptr;
        return adopt(std::move(image));
    } catch (std::bad_alloc const&) {
        Raise<OutOfMemoryException>("There is not enough memory to read " + item.path());
    }
}

void Picture::Save(Ref<FolderItem> const& file, std::int32_t format, std::int32_t quality)
{
    if (quality != -1 && (quality < 0 || quality > 100))
        Raise<OutOfBoundsException>("The compression value is out of range, valid values are 0-100");
    if (!file)
        Raise<NilObjectException>("The folder item passed cannot be nil");
    checkFormat(format);
    String const& path = file->path();
    if (!hasPixels())
        Raise<RuntimeException>("A picture without pixels cannot be saved to " + path);

    // PNG keeps every pixel exactly at any quality; the value only has to be
    // a valid one. The bytes go to a temporary file beside the target, which
    // replaces the target only once it is complete: a failure leaves the old
    // file as it was and no partial one, and the temporary file goes with
    // the QSaveFile. The encoder works on other threads meanwhile, and this
    // one keeps the window painted while it waits for them.
    Ref<Picture> const keptAlive(this);
    QSaveFile output(QString::fromStdString(path));
    if (!output.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        raiseWriteFailure(path, output.errorString());
    try {
        PngWriter writer(*this);
        for (std::span<std::uint8_t const> piece = writer.next(background_task::yieldIfDue); !piece.empty(); piece = writer.next(background_task::yieldIfDue))
            writeAll(output, piece, path);
        syncWhilePainting(output, path);
    } catch (RaisedException const&) {
        throw;
    } catch (std::bad_alloc const&) {
        Raise<OutOfMemoryException>("There is not enough memory to save the picture to " + path);
    } catch (std::exception const& failure) {
        raiseWriteFailure(path, QString::fromUtf8(failure.what()));
    }
    if (!output.commit())
        raiseWriteFailure(path, output.errorString());
}

Ref<Picture> Picture::fromImage(QImage const& image)
{
    if (image.isNull())
        return nullptr;
    try {
        return adopt(image);
    } catch (std::bad_alloc const&) {
        Raise<OutOfMemoryException>("There is not enough memory for a picture of " + std::to_string(image.width()) + " x " + std::to_string(image.height()) + " pixels");
    }
}

Ref<Picture> Picture::adopt(QImage image)
{
    int const width = image.width();
    int const height = image.height();
    Ref<Picture> picture = RuntimeNewObject<Picture>();
    picture->checkMemory(width, height);
    // Qt reports a failed allocation as a null image. Converting costs
    // nothing for an image in the right format already.
    image.convertTo(QImage::Format_ARGB32);
    // Asking for writable bits makes a copy of the pixels of an image that is
    // shared, so that nothing else sees the picture's writes.
    uchar* const bits = image.isNull() ? nullptr : image.bits();
    if (!bits)
        Raise<OutOfMemoryException>("There is not enough memory for a picture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");

    picture->claimMemory(width, height);
    picture->m_image = std::make_unique<QImage>(std::move(image));
    picture->m_pixels = reinterpret_cast<std::uint32_t*>(bits);
    picture->m_width = width;
    picture->m_height = height;
    picture->m_knownClear = false;
    return picture;
}
