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

// Beside the picture's own pixels the coder holds its canvas of the frame's
// size and a pixel map of at most that size, 10 bytes a pixel each, and the
// map's unpacked data, up to 16 bytes a pixel; the file, and a little more
// for its rows and tables.
constexpr std::size_t CoderBytesPerPixel = 40;
constexpr std::size_t CoderSpareBytes = std::size_t { 16 } << 20;

int frameValue(std::span<unsigned char const> head, std::size_t at)
{
    return static_cast<std::int16_t>(head[at] << 8 | head[at + 1]);
}

struct Rectangle {
    int top, left, bottom, right;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

Rectangle rectangleAt(std::span<unsigned char const> bytes, std::size_t at)
{
    return { frameValue(bytes, at), frameValue(bytes, at + 2), frameValue(bytes, at + 4), frameValue(bytes, at + 6) };
}

bool hasVersionOpcode(std::span<unsigned char const> head)
{
    if (head.size() < VersionAt + 4)
        return false;
    unsigned char const* version = head.data() + VersionAt;
    return std::memcmp(version, "\x00\x11\x02\xFF", 4) == 0 || std::memcmp(version, "\x11\x01", 2) == 0;
}

// The lengths of the data of the opcodes that set up the drawing state and
// may come before the first drawing, or -1 for those whose data says its own
// length or that draw.
int stateOpcodeLength(unsigned opcode)
{
    static constexpr int lengths[0x20] {
        0, -1, 8, 2, 1, 2, 4, 4, 2, 8, 8, 4, 4, 2, 4, 4, // 0x0F: background colour
        8, 2, -1, -1, -1, 2, 2, 0, 0, 0, 6, 6, 0, 6, 0, 6, // 0x1F: operation colour
    };
    if (opcode < 0x20)
        return lengths[opcode];
    if (opcode == 0xA0) // a short comment
        return 2;
    if (opcode == 0x0C00) // the version 2 header
        return 24;
    return -1;
}

// Walks the opcodes that set up the drawing state, from the version opcode
// on, and gives false when one of them clips to a rectangle larger than the
// frame: the coder makes its canvas the size of such a clip, and a file of
// a few bytes could claim one of a billion pixels. The walk ends at the
// first opcode that draws (the coder's own limits bound what follows) or at
// the end of the bytes at hand. Version 1 has opcodes of one byte; version
// 2 opcodes of two bytes, each at an even offset.
bool clipsWithinFrame(std::span<unsigned char const> bytes, Rectangle const& frame)
{
    bool const version2 = bytes[VersionAt] == 0x00;
    std::size_t const opcodeBytes = version2 ? 2 : 1;
    std::size_t at = VersionAt + (version2 ? 4 : 2);
    while (at + opcodeBytes <= bytes.size()) {
        unsigned const opcode = version2 ? unsigned { bytes[at] } << 8 | bytes[at + 1] : bytes[at];
        at += opcodeBytes;
        std::size_t length = 0;
        if (opcode == 0x01 || opcode == 0xA1) {
            std::size_t const lengthAt = opcode == 0x01 ? at : at + 2;
            if (lengthAt + 2 > bytes.size())
                return true;
            std::size_t const stated = std::size_t { bytes[lengthAt] } << 8 | bytes[lengthAt + 1];
            length = opcode == 0x01 ? stated : stated + 4;
            if (opcode == 0x01 && stated >= 10 && at + 10 <= bytes.size()) {
                Rectangle const clip = rectangleAt(bytes, at + 2);
                if (clip.width() > frame.width() || clip.height() > frame.height())
                    return false;
            }
        } else {
            int const known = stateOpcodeLength(opcode);
            if (known < 0)
                return true;
            length = static_cast<std::size_t>(known);
        }
        at += length;
        if (version2)
            at += at & 1;
    }
    return true;
}

void ignoreMessage(ExceptionType, char const*, char const*) { }

// The library reports progress from whatever thread works; the yield
// point lets events run only when that is the GUI thread.
MagickPassFail yieldWhileDecoding(char const*, magick_int64_t, magick_uint64_t, ExceptionInfo*)
{
    background_task::yieldIfDue();
    return MagickPass;
}

// Bounds what the library may take for one file: memory and memory maps
// within what the header promised and what is left of the picture budget,
// no pixel cache on the disk at all, and no picture larger than the frame.
// It works on the calling thread alone: the coder's work is serial, and
// worker threads would only wait on the cores that bring in the picture's
// pages. Gives true when the budget is the tighter bound: only then is an
// allocation that the library refuses a lack of memory, and not a file
// that asks for more than its frame needs.
bool limitLibrary(int width, int height, std::size_t workingBytes)
{
    std::size_t const budget = Picture::memoryBudget();
    std::size_t const room = budget - std::min(budget, Picture::heldBytes());
    auto const memory = static_cast<magick_int64_t>(std::min(workingBytes, room));
    SetMagickResourceLimit(MemoryResource, memory);
    SetMagickResourceLimit(MapResource, memory);
    SetMagickResourceLimit(DiskResource, 0);
    SetMagickResourceLimit(PixelsResource, magick_int64_t { width } * height);
    SetMagickResourceLimit(WidthResource, width);
    SetMagickResourceLimit(HeightResource, height);
    SetMagickResourceLimit(ThreadsResource, 1);
    return room < workingBytes;
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
bool decodeWithLibrary(ImageFile& file, Picture& picture, std::size_t workingBytes)
{
    std::vector<unsigned char> bytes(static_cast<std::size_t>(file.size()));
    if (!file.seek(0) || !file.readExactly(bytes.data(), bytes.size()))
        return false;
    startLibrary();
    bool const budgetBinds = limitLibrary(picture.Width(), picture.Height(), workingBytes);
    std::unique_ptr<ImageInfo, ImageInfoDeleter> info(CloneImageInfo(nullptr));
    if (!info)
        throw std::bad_alloc();
    std::strncpy(info->magick, "PICT", MaxTextExtent - 1);
    std::strncpy(info->filename, "PICT:", MaxTextExtent - 1);

    MagickException exception;
    std::unique_ptr<Image, ImageListDeleter> decoded(BlobToImage(info.get(), bytes.data(), bytes.size(), exception.get()));
    if (exception.outOfMemory() && budgetBinds)
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
    Rectangle const frame = rectangleAt(head, FrameAt);
    int const width = frame.width();
    int const height = frame.height();
    if (width <= 0 || height <= 0 || static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > m_file.size() * MostPixelsPerByte)
        return false;
    if (!clipsWithinFrame(head, frame))
        return false;
    header.width = width;
    header.height = height;
    // The whole file, twice while the coder takes it, and the coder's pixels.
    std::size_t const pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    m_workingBytes = 2 * static_cast<std::size_t>(m_file.size()) + pixels * CoderBytesPerPixel + CoderSpareBytes;
    header.workingBytes = m_workingBytes;
    return true;
}

bool PictReader::decode(Picture& picture)
{
    return decodeWithLibrary(m_file, picture, m_workingBytes);
}
