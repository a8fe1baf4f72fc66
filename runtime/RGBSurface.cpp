#include "runtime/RGBSurface.h"

#include "runtime/Exceptions.h"

ClassRecord RGBSurface::buildRecord()
{
    return ClassRecordBuilder<RGBSurface>("RGBSurface").build();
}

Ref<RGBSurface> RGBSurface::of(Ref<::Picture> picture)
{
    Ref<RGBSurface> surface = RuntimeNewObject<RGBSurface>();
    surface->m_picture = std::move(picture);
    return surface;
}

namespace {
void checkInside(Picture const& picture, std::int32_t x, std::int32_t y)
{
    if (x < 0 || y < 0 || x >= picture.Width() || y >= picture.Height())
        Raise<OutOfBoundsException>("The pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") lies outside the picture");
}
}

std::uint32_t* RGBSurface::at(std::int32_t x, std::int32_t y)
{
    ::Picture& picture = m_picture.checked();
    checkInside(picture, x, y);
    return picture.row(y) + x;
}

std::uint32_t const* RGBSurface::readAt(std::int32_t x, std::int32_t y) const
{
    ::Picture const& picture = m_picture.checked();
    checkInside(picture, x, y);
    return picture.row(y) + x;
}

std::uint32_t* RGBSurface::scanline(std::int32_t y)
{
    return at(0, y);
}
