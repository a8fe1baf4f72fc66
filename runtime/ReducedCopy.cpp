#include "runtime/ReducedCopy.h"

#include "runtime/Picture.h"

namespace {
std::size_t allCopyBytes = 0;
}

ReducedCopy::ReducedCopy(QRect source, QImage image)
    : m_source(source)
    , m_image(std::move(image))
{
    allCopyBytes += static_cast<std::size_t>(m_image.sizeInBytes());
}

ReducedCopy::~ReducedCopy()
{
    allCopyBytes -= static_cast<std::size_t>(m_image.sizeInBytes());
}

std::size_t ReducedCopy::heldBytes()
{
    return allCopyBytes;
}

std::unique_ptr<ReducedCopy> ReducedCopy::make(Picture const& picture, QRect source, QSize size)
{
    // The picture's own pixels, read in place. Qt's smooth scale averages
    // the area each target pixel covers when it shrinks; it needs
    // premultiplied colours for that to weight them by alpha. Both steps
    // spread over the machine's cores.
    auto const* first = reinterpret_cast<uchar const*>(picture.row(source.y()) + source.x());
    QImage const pixels(first, source.width(), source.height(), static_cast<qsizetype>(picture.Width()) * 4, QImage::Format_ARGB32);
    QImage reduced = pixels.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                         .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (reduced.size() != size)
        return nullptr; // no memory for the work copy
    return std::make_unique<ReducedCopy>(source, std::move(reduced));
}
