// Reading pictures from files and writing them back: Picture::Open,
// Picture::Save and Picture::fromImage.

#include "runtime/Exceptions.h"
#include "runtime/FolderItem.h"
#include "runtime/Picture.h"
#include "runtime/Workers.h"
#include "runtime/imageformats/BmpReader.h"
#include "runtime/imageformats/GifReader.h"
#include "runtime/imageformats/ImageFile.h"
#include "runtime/imageformats/JpegReader.h"
#include "runtime/imageformats/PictReader.h"
#include "runtime/imageformats/PngReader.h"
#include "runtime/imageformats/PngWriter.h"
#include "runtime/imageformats/TargaReader.h"
#include "runtime/imageformats/TiffReader.h"

#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QSaveFile>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <span>
#include <vector>

namespace {

constexpr std::int32_t PngFormat = 150;

// ---- Reading --------------------------------------------------------------

struct Format {
    bool (*recognises)(ImageFile const&);
    std::unique_ptr<ImageReader> (*reader)(ImageFile&);
};

template <class Reader>
constexpr Format format()
{
    return { &Reader::recognises, [](ImageFile& file) -> std::unique_ptr<ImageReader> { return std::make_unique<Reader>(file); } };
}

// The formats known by their signature.
constexpr std::array formatsBySignature {
    format<PngReader>(),
    format<JpegReader>(),
    format<GifReader>(),
    format<TiffReader>(),
    format<BmpReader>(),
};

constexpr Format Pict = format<PictReader>();
constexpr Format Targa = format<TargaReader>();

// The readers to try on the file, in order: the one whose signature it
// carries; else PICT and Targa, neither of which has a firm signature. Of
// those two the one its name gives comes first, then the one its content
// points to (a PICT version opcode), and each is the other's fallback.
std::vector<Format> candidatesFor(ImageFile const& file)
{
    for (Format const& candidate : formatsBySignature)
        if (candidate.recognises(file))
            return { candidate };
    if (Targa.recognises(file))
        return { Targa, Pict };
    if (Pict.recognises(file))
        return { Pict, Targa };
    return {};
}

// "650 million pixels", or the exact count below a million.
std::string pixelCount(std::int64_t pixels)
{
    constexpr std::int64_t million = 1'000'000;
    return pixels >= million ? std::to_string(pixels / million) + " million pixels" : std::to_string(pixels) + " pixels";
}

// A picture larger than this machine's memory can work on: the message says
// so in the user's terms, with the file's name as they know it.
[[noreturn]] void raiseTooLarge(String const& path, std::int64_t width, std::int64_t height)
{
    Raise<OutOfMemoryException>(std::filesystem::path(path).filename().string() + " is " + std::to_string(width) + " x "
        + std::to_string(height) + " pixels; this computer's memory allows pictures of up to " + pixelCount(Picture::largestPicturePixels()));
}

// The file decoded by its reader, or Nil. A reader that finds the file
// damaged hands it to the next candidate; so does one whose header gives a
// picture too large, which is refused only when no candidate reads the file.
Ref<Picture> decodeFile(String const& path)
{
    std::unique_ptr<ImageFile> file = ImageFile::open(path);
    if (!file)
        return nullptr;
    std::exception_ptr refusal;
    for (Format const& candidate : candidatesFor(*file)) {
        std::unique_ptr<ImageReader> reader = candidate.reader(*file);
        ImageHeader header;
        if (!reader->readHeader(header) || header.width < 1 || header.height < 1)
            continue;
        std::int64_t const width = header.uprightWidth();
        std::int64_t const height = header.uprightHeight();
        try {
            // A side that no picture can have is refused at the header,
            // with the constructor's own answer, before any memory is taken.
            Picture::checkSides(width, height);
            if (width * height > Picture::largestPicturePixels())
                raiseTooLarge(path, width, height);
        } catch (RaisedException const&) {
            if (!refusal)
                refusal = std::current_exception();
            continue;
        }
        Ref<Picture> picture = Picture::createForDecoding(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), header.workingBytes);
        if (reader->decode(*picture))
            return picture;
    }
    if (refusal)
        std::rethrow_exception(refusal);
    return nullptr;
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

// Writes the picture's file as the encoder hands out its bytes, brings them
// to the disk, and puts the file in the target's place; gives the system's
// reason if any of that failed. A write that stops short (the disk filled
// up) has written what fitted and says no more; the write of the rest then
// fails at once, with the reason. It runs off the GUI thread: the system may
// hold back a process that writes fast, and a sync can take long on a slow
// disk. The sync is done here because the system reports its failure only
// once; the commit then finds nothing left to bring.
QString writeFile(Picture const& picture, QSaveFile& output)
{
    PngWriter writer(picture);
    for (std::span<std::uint8_t const> piece = writer.next(); !piece.empty(); piece = writer.next()) {
        while (!piece.empty()) {
            qint64 const written = output.write(reinterpret_cast<char const*>(piece.data()), static_cast<qint64>(piece.size()));
            if (written <= 0)
                return output.errorString();
            piece = piece.subspan(static_cast<std::size_t>(written));
        }
    }
    int const descriptor = output.handle();
    if (descriptor >= 0 && fsync(descriptor) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (!output.commit())
        return output.errorString();
    return {};
}

}

Ref<Picture> Picture::Open(Ref<FolderItem> const& file)
{
    FolderItem const& item = file.checked();
    try {
        return decodeFile(item.path());
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
    // the QSaveFile. The encoder and the writing work beside this thread,
    // which keeps the window painted while it waits.
    Ref<Picture> const keptAlive(this);
    QSaveFile output(QString::fromStdString(path));
    if (!output.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        raiseWriteFailure(path, output.errorString());
    QString failure;
    try {
        failure = runBeside([&] { return writeFile(*this, output); });
    } catch (std::bad_alloc const&) {
        Raise<OutOfMemoryException>("There is not enough memory to save the picture to " + path);
    } catch (RaisedException const&) {
        throw;
    } catch (std::exception const& error) {
        raiseWriteFailure(path, QString::fromUtf8(error.what()));
    }
    if (!failure.isEmpty())
        raiseWriteFailure(path, failure);
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
    picture->letCacheGoIfShort(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * sizeof(std::uint32_t));
    // Qt reports a failed allocation as a null image. Converting costs
    // nothing for an image in the right format already.
    image.convertTo(QImage::Format_ARGB32);
    // Asking for writable bits makes a copy of the pixels of an image that is
    // shared, so that nothing else sees the picture's writes.
    uchar* const bits = image.isNull() ? nullptr : image.bits();
    if (!bits)
        Raise<OutOfMemoryException>("There is not enough memory for a picture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");

    auto owned = std::make_unique<QImage>(std::move(image));
    picture->claimMemory(static_cast<std::size_t>(owned->sizeInBytes()));
    picture->m_image = std::move(owned);
    picture->m_pixels = reinterpret_cast<std::uint32_t*>(bits);
    picture->m_width = width;
    picture->m_height = height;
    picture->m_knownClear = false;
    return picture;
}
