#pragma once

// Decoding a file with one reader chosen beforehand, the way Picture::Open
// decodes with the reader it finds by the signature. The fuzz targets use
// it, so that each of them reaches its own reader whatever its bytes look
// like, and so does the test that replays what they found.

#include "runtime/Exceptions.h"
#include "runtime/Picture.h"
#include "runtime/imageformats/BmpReader.h"
#include "runtime/imageformats/GifReader.h"
#include "runtime/imageformats/ImageFile.h"
#include "runtime/imageformats/JpegReader.h"
#include "runtime/imageformats/PictReader.h"
#include "runtime/imageformats/PngReader.h"
#include "runtime/imageformats/TargaReader.h"
#include "runtime/imageformats/TiffReader.h"

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <string_view>

namespace fixed_reader {

struct Format {
    // Names the fuzz target, its corpus folder and its findings' folder.
    std::string_view name;
    // Of the file written for the reader, as a dropped file would have it.
    std::string_view extension;
    std::unique_ptr<ImageReader> (*make)(ImageFile&);
};

template <class Reader>
std::unique_ptr<ImageReader> make(ImageFile& file)
{
    return std::make_unique<Reader>(file);
}

inline constexpr std::array formats {
    Format { "png", "png", &make<PngReader> },
    Format { "jpeg", "jpg", &make<JpegReader> },
    Format { "gif", "gif", &make<GifReader> },
    Format { "tiff", "tif", &make<TiffReader> },
    Format { "bmp", "bmp", &make<BmpReader> },
    Format { "pict", "pct", &make<PictReader> },
    Format { "targa", "tga", &make<TargaReader> },
};

inline Format const* formatNamed(std::string_view name)
{
    for (Format const& format : formats)
        if (format.name == name)
            return &format;
    return nullptr;
}

// Pictures above this many pixels (16 MiB of ARGB words) are not decoded:
// a few KB of a valid file can hold a far larger picture, whose decode is
// sound but would count as a slow input or one that takes too much memory.
inline constexpr std::int64_t LargestPixels = std::int64_t { 1 } << 22;

enum class Outcome {
    Nil, // the file does not decode
    Decoded,
    OutOfMemory, // the reader or the picture budget found no memory for it
    TooLarge, // its header gives a side that Picture::Open refuses, or more than LargestPixels
};

// Reads the header, makes the picture as Picture::Open does and has the
// reader decode into it. Anything other than these outcomes, an exception
// included, is a fault of the reader.
inline Outcome decode(Format const& format, String const& path)
{
    std::unique_ptr<ImageFile> file = ImageFile::open(path);
    if (!file)
        return Outcome::Nil;
    try {
        std::unique_ptr<ImageReader> reader = format.make(*file);
        ImageHeader header;
        if (!reader->readHeader(header) || header.width < 1 || header.height < 1)
            return Outcome::Nil;
        std::int64_t const width = header.uprightWidth();
        std::int64_t const height = header.uprightHeight();
        if (width > Picture::MaximumSide || height > Picture::MaximumSide || width * height > LargestPixels)
            return Outcome::TooLarge;
        Ref<Picture> const picture = Picture::createForDecoding(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), header.workingBytes);
        return reader->decode(*picture) ? Outcome::Decoded : Outcome::Nil;
    } catch (std::bad_alloc const&) {
        return Outcome::OutOfMemory;
    } catch (RaisedException const& raised) {
        if (!raised.exception()->isKindOf(OutOfMemoryException::Lookup_()))
            throw;
        return Outcome::OutOfMemory;
    }
}

}
