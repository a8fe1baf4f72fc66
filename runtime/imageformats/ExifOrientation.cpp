#include "runtime/imageformats/ExifOrientation.h"

#include <cstdint>
#include <cstring>

// The block holds a TIFF structure: a byte-order mark, the offset of the
// first directory, and there twelve-byte entries of tag, type, count and
// value. The orientation is entry 0x0112, one SHORT, or one LONG as some
// writers store it; either is held in the entry itself.
Orientation exifOrientation(unsigned char const* data, std::size_t size)
{
    if (size < 6 + 8 || std::memcmp(data, "Exif\0\0", 6) != 0)
        return Orientation::AsStored;
    unsigned char const* const tiff = data + 6;
    std::size_t const length = size - 6;
    bool littleEndian = false;
    if (std::memcmp(tiff, "II*\0", 4) == 0)
        littleEndian = true;
    else if (std::memcmp(tiff, "MM\0*", 4) != 0)
        return Orientation::AsStored;
    auto read16 = [&](std::size_t at) -> std::uint32_t {
        return littleEndian ? tiff[at] | tiff[at + 1] << 8 : tiff[at] << 8 | tiff[at + 1];
    };
    auto read32 = [&](std::size_t at) -> std::uint32_t { return littleEndian ? read16(at) | read16(at + 2) << 16 : read16(at) << 16 | read16(at + 2); };

    std::size_t const directory = read32(4);
    if (directory > length || length - directory < 2)
        return Orientation::AsStored;
    std::size_t const entries = read16(directory);
    for (std::size_t i = 0; i < entries; ++i) {
        std::size_t const entry = directory + 2 + i * 12;
        if (entry + 12 > length)
            break;
        if (read16(entry) != 0x0112)
            continue;
        std::uint32_t const type = read16(entry + 2);
        std::uint32_t const value = type == 4 ? read32(entry + 8) : read16(entry + 8);
        if ((type != 3 && type != 4) || read32(entry + 4) != 1 || value < 1 || value > 8)
            return Orientation::AsStored;
        return static_cast<Orientation>(value);
    }
    return Orientation::AsStored;
}
