#include "runtime/imageformats/PictReader.h"

#include "runtime/BackgroundTask.h"
#include "runtime/Picture.h"
#include "runtime/imageformats/ImageFile.h"

#include <magick/api.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

// The file's own header, then the picture's size (2 bytes) and frame (top,
// left, bottom, right, 2 bytes each), then the version opcode: 0x0011 0x02FF
// for version 2, 0x11 0x01 for version 1.
constexpr std::size_t HeaderBytes = 512;
constexpr std::size_t FrameAt = HeaderBytes + 2;
constexpr std::size_t VersionAt = HeaderBytes + 10;

// Files are read whole for the coder; none that holds an allowed picture
// comes near this.
constexpr std::uint64_t LargestFile = std::uint64_t { 1 } << 31;

// The pixels of a PICT file are packed in runs of at most 128 values of two
// bytes' cost; a frame of more pixels than this a byte of the file is taken
// for a damaged one, not made into a blank picture of that size.
constexpr std::uint64_t MostPixelsPerByte = 256;

int frameValue(std::span<unsigned char const> head, std::size_t at)
{
    return static_cast<std::int16_t>(head[at] << 8 | head[at + 1]);
}

bool hasVersionOpcode(std::span<unsigned char const> head)
{
    if (head.size() < VersionAt + 4)
        return false;
    unsigned char const* version = head.data() + VersionAt;
    return std::memcmp(version, "\x00\x11\x02\xFF", 4) == 0 || std::memcmp(version, "\x11\x01", 2) == 0;
}

void ignoreMessage(ExceptionType, char const*, char const*) { }

MagickPassFail yieldWhileDecoding(char const*, magick_int64_t, magick_uint64_t, ExceptionInfo*)
{
    background_task::yieldIfDue();
    return MagickPass;
}

// The library is started once, without signal handlers of its own and
// without its messages on stderr.
void startLibrary()
{
    static bool const started = [] {
        ExceptionInfo exception;
        GetExceptionInfo(&exception);
        InitializeMagickEx(nullptr, MAGICK_OPT_NO_SIGNAL_HANDER, &exception);
        DestroyExceptionInfo(&exception);
        SetWarningHandler(ignoreMessage);
        SetErrorHandler(ignoreMessage);
        SetMonitorHandler(yieldWhileDecoding);
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
    // Errors, and warnings that the data is damaged, mean the picture is not
    // whole; other warnings do not.
    bool failed() const { return m_info.severity >= ErrorException || m_info.severity == CorruptImageWarning; }
    // Of the library's resource errors only a failed allocation is a lack
    // of memory; the others are sizes that a damaged file claims.
    bool outOfMemory() const
    {
        return (m_info.severity == ResourceLimitError || m_info.severity == ResourceLimitFatalError)
            && m_info.reason && std::strstr(m_info.reason, "allocation failed");
    }

private:
    ExceptionInfo m_info;
};

// Decodes the whole file with the library's PICT coder, and copies the
// pixels row by row. Naming the format in the file name as "PICT:" is what
// keeps the library from choosing a decoder by sniffing the content; the
// format field alone does not. The coder takes the whole file and decodes
// into pixels of its own, 16 bits a channel, before the copy.
bool decodeWithLibrary(ImageFile& file, Picture& picture)
{
    std::vector<unsigned char> bytes(static_cast<std::size_t>(file.size()));
    if (!file.seek(0) || !file.readExactly(bytes.data(), bytes.size()))
        return false;
    startLibrary();
    std::unique_ptr<ImageInfo, ImageInfoDeleter> info(CloneImageInfo(nullptr));
    if (!info)
        throw std::bad_alloc();
    std::strncpy(info->magick, "PICT", MaxTextExtent - 1);
    std::strncpy(info->filename, "PICT:", MaxTextExtent - 1);

    MagickException exception;
    std::unique_ptr<Image, ImageListDeleter> decoded(BlobToImage(info.get(), bytes.data(), bytes.size(), exception.get()));
    if (exception.outOfMemory())
        throw std::bad_alloc();
    if (!decoded || exception.failed() || std::strcmp(decoded->magick, "PICT") != 0)
        return false;
    if (decoded->columns != static_cast<unsigned long>(picture.Width()) || decoded->rows != static_cast<unsigned long>(picture.Height()))
        return false;

    // ARGB words hold B, G, R, A in memory on a little-endian machine.
    char const* const order = std::endian::native == std::endian::little ? "BGRA" : "ARGB";
    for (std::int32_t y = 0; y < picture.Height(); ++y) {
        std::uint32_t* const row = picture.row(y);
        if (!DispatchImage(decoded.get(), 0, y, decoded->columns, 1, order, CharPixel, row, exception.get()))
            return false;
        // The library fills in no alpha for a picture without it: such a
        // picture is opaque.
        if (!decoded->matte)
            std::for_each(row, row + picture.Width(), [](std::uint32_t& pixel) { pixel |= 0xFF000000u; });
        background_task::yieldIfDue();
    }
    return true;
}

}

bool PictReader::recognises(ImageFile const& file)
{
    String const extension = file.extension();
    return extension == "pict" || extension == "pic" || extension == "pct" || hasVersionOpcode(file.head());
}

PictReader::PictReader(ImageFile& file)
    : m_file(file)
{
}

PictReader::~PictReader() = default;

bool PictReader::readHeader(ImageHeader& header)
{
    auto const head = m_file.head();
    if (!hasVersionOpcode(head) || m_file.size() > LargestFile)
        return false;
    int const width = frameValue(head, FrameAt + 6) - frameValue(head, FrameAt + 2);
    int const height = frameValue(head, FrameAt + 4) - frameValue(head, FrameAt);
    if (width <= 0 || height <= 0 || static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > m_file.size() * MostPixelsPerByte)
        return false;
    header.width = width;
    header.height = height;
    // The whole file, and the coder's pixels of 16 bits a channel.
    header.workingBytes = static_cast<std::size_t>(m_file.size()) + static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 8;
    return true;
}

bool PictReader::decode(Picture& picture)
{
    return decodeWithLibrary(m_file, picture);
}
