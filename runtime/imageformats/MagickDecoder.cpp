#include "runtime/imageformats/MagickDecoder.h"

#include "runtime/BackgroundTask.h"
#include "runtime/Picture.h"
#include "runtime/imageformats/ImageFile.h"

#include <magick/api.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

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

}

namespace magick_decoder {

std::size_t workingBytes(ImageFile const& file, std::int64_t width, std::int64_t height)
{
    return static_cast<std::size_t>(file.size()) + static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 8;
}

bool decode(char const* coder, ImageFile& file, Picture& picture)
{
    std::vector<unsigned char> bytes(static_cast<std::size_t>(file.size()));
    if (!file.seek(0) || !file.readExactly(bytes.data(), bytes.size()))
        return false;
    startLibrary();
    std::unique_ptr<ImageInfo, ImageInfoDeleter> info(CloneImageInfo(nullptr));
    if (!info)
        throw std::bad_alloc();
    std::strncpy(info->magick, coder, MaxTextExtent - 1);
    std::strncpy(info->filename, (std::string(coder) + ":").c_str(), MaxTextExtent - 1);

    MagickException exception;
    std::unique_ptr<Image, ImageListDeleter> decoded(BlobToImage(info.get(), bytes.data(), bytes.size(), exception.get()));
    if (exception.outOfMemory())
        throw std::bad_alloc();
    if (!decoded || exception.failed() || std::strcmp(decoded->magick, coder) != 0)
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
