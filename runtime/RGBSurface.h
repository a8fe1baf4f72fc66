#pragma once

#include "runtime/ClassRecord.h"
#include "runtime/Color.h"
#include "runtime/Picture.h"

// Per-pixel access to a picture. The surface reads and writes the picture's
// own pixels, so drawing made after the surface was taken shows through it.
class RGBSurface : public RuntimeClass<RGBSurface> {
public:
    static ClassRecord buildRecord();
    static Ref<RGBSurface> of(Ref<::Picture> picture);

    // The colour at column x, row y; outside the picture raises
    // OutOfBoundsException.
    // Reading counts as no write: the picture keeps its reduced copy.
    Color Pixel(std::int32_t x, std::int32_t y) const { return colorOfStoredPixel(*readAt(x, y)); }
    void Pixel(std::int32_t x, std::int32_t y, Color color) { *at(x, y) = storedPixel(color); }

    // One row of stored ARGB words, for loops that walk a whole picture.
    std::uint32_t* scanline(std::int32_t y);

    Ref<::Picture> const& picture() const { return m_picture; }

private:
    std::uint32_t* at(std::int32_t x, std::int32_t y);
    std::uint32_t const* readAt(std::int32_t x, std::int32_t y) const;
    Ref<::Picture> m_picture;
};
