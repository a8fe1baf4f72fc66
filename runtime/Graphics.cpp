#include "runtime/Graphics.h"

#include "runtime/BackgroundTask.h"
#include "runtime/Exceptions.h"
#include "runtime/Picture.h"
#include "runtime/ReducedCopy.h"
#include "runtime/RepaintAfterComputation.h"

#include <QImage>
#include <QPainter>
#include <QWidget>

#include <algorithm>

namespace {

struct Span {
    std::int32_t x0, y0, x1, y1; // half-open
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

Span clipped(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height, std::int32_t boundWidth, std::int32_t boundHeight)
{
    auto const end = [](std::int32_t start, std::int32_t size) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t { start } + size, INT32_MIN, INT32_MAX));
    };
    return { std::max(x, 0), std::max(y, 0), std::min(end(x, width), boundWidth), std::min(end(y, height), boundHeight) };
}

// Source-over of a partly transparent straight ARGB word onto another,
// rounded to nearest.
[[gnu::noinline]] std::uint32_t blend(std::uint32_t source, std::uint32_t destination)
{
    std::uint32_t const sa = source >> 24;
    std::uint32_t const da = destination >> 24;
    std::uint32_t const keep = da * (255 - sa);          // destination weight, scaled by 255
    std::uint32_t const total = sa * 255 + keep;         // result alpha, scaled by 255
    auto channel = [&](int shift) {
        std::uint32_t const sc = (source >> shift) & 0xFF;
        std::uint32_t const dc = (destination >> shift) & 0xFF;
        return (sc * sa * 255 + dc * keep + total / 2) / total;
    };
    std::uint32_t const alpha = (total + 127) / 255;
    return alpha << 24 | channel(16) << 16 | channel(8) << 8 | channel(0);
}

inline std::uint32_t sourceOver(std::uint32_t source, std::uint32_t destination)
{
    std::uint32_t const sa = source >> 24;
    if (sa == 255)
        return source;
    if (sa == 0)
        return destination;
    return blend(source, destination);
}

QColor qColor(Color color)
{
    return QColor(color.Red(), color.Green(), color.Blue(), color.Alpha());
}

// The picture's reduced copy of that rectangle at that size, made now when
// it is missing. Making it for a large picture takes tens of milliseconds;
// at a yield point that would hold up the computation and the paints that
// come through it, so there the canvas makes do without and is painted
// again once the computation is over.
ReducedCopy const* reducedCopyFor(QPainter const& painter, Picture& picture, QRect source, QSize size)
{
    ReducedCopy const* copy = picture.reducedCopy();
    if (copy && copy->fits(source, size))
        return copy;
    if (background_task::yielding()) {
        if (auto* widget = dynamic_cast<QWidget*>(painter.device()))
            RepaintAfterComputation::request(*widget);
        return nullptr;
    }
    picture.keepReducedCopy(ReducedCopy::make(picture, source, size));
    return picture.reducedCopy();
}

// A canvas shows a picture that it shrinks through the picture's reduced
// copy, made for the device pixels that the target covers, so that each of
// them shows the average of its area. An enlarged picture is drawn straight
// from its pixels, smoothly filtered.
void drawOnCanvas(QPainter& painter, Picture& picture, QRect target, QRect source)
{
    Picture const& pixels = picture; // reading counts as no write
    qreal const ratio = painter.device() ? painter.device()->devicePixelRatio() : 1.0;
    QSize const device(qRound(target.width() * ratio), qRound(target.height() * ratio));
    bool const shrinks = device.width() < source.width() || device.height() < source.height();
    bool const inside = QRect(0, 0, pixels.Width(), pixels.Height()).contains(source);
    painter.save();
    ReducedCopy const* copy = shrinks && inside && !device.isEmpty() ? reducedCopyFor(painter, picture, source, device) : nullptr;
    if (copy) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(target, copy->image());
    } else {
        // A shrink without the copy is a quick stand-in, drawn at a yield
        // point: filtering every pixel of a large picture would hold up the
        // work and the paints for tens of milliseconds.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, target.size() != source.size() && !shrinks);
        painter.drawImage(target, pixels.image(), source);
    }
    painter.restore();
}

}

ClassRecord Graphics::buildRecord()
{
    return ClassRecordBuilder<Graphics>("Graphics").build();
}

Ref<Graphics> Graphics::forPicture(Picture& picture)
{
    Ref<Graphics> graphics = RuntimeNewObject<Graphics>();
    graphics->m_picture = &picture;
    return graphics;
}

Ref<Graphics> Graphics::forPainter(QPainter& painter, std::int32_t width, std::int32_t height)
{
    Ref<Graphics> graphics = RuntimeNewObject<Graphics>();
    graphics->m_painter = &painter;
    graphics->m_painterWidth = width;
    graphics->m_painterHeight = height;
    return graphics;
}

void Graphics::detach()
{
    m_picture = nullptr;
    m_painter = nullptr;
}

void Graphics::FillRect(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height)
{
    if (m_painter) {
        Span const s = clipped(x, y, width, height, m_painterWidth, m_painterHeight);
        if (!s.empty())
            m_painter->fillRect(QRect(s.x0, s.y0, s.x1 - s.x0, s.y1 - s.y0), qColor(m_foreColor));
        return;
    }
    if (!m_picture)
        RaiseNilObjectException();
    Span const s = clipped(x, y, width, height, m_picture->Width(), m_picture->Height());
    std::uint32_t const pixel = storedPixel(m_foreColor);
    if (s.empty() || (pixel >> 24) == 0)
        return;
    for (std::int32_t row = s.y0; row < s.y1; ++row) {
        background_task::yieldIfDue();
        std::uint32_t* line = m_picture->row(row);
        if ((pixel >> 24) == 255) {
            std::fill(line + s.x0, line + s.x1, pixel);
        } else {
            for (std::int32_t column = s.x0; column < s.x1; ++column)
                line[column] = sourceOver(pixel, line[column]);
        }
    }
}

void Graphics::ClearRect(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height)
{
    if (m_painter) {
        Span const s = clipped(x, y, width, height, m_painterWidth, m_painterHeight);
        if (s.empty())
            return;
        QPainter::CompositionMode const mode = m_painter->compositionMode();
        m_painter->setCompositionMode(QPainter::CompositionMode_Clear);
        m_painter->fillRect(QRect(s.x0, s.y0, s.x1 - s.x0, s.y1 - s.y0), Qt::transparent);
        m_painter->setCompositionMode(mode);
        return;
    }
    if (!m_picture)
        RaiseNilObjectException();
    Span const s = clipped(x, y, width, height, m_picture->Width(), m_picture->Height());
    if (m_picture->knownClear())
        return;
    for (std::int32_t row = s.y0; row < s.y1 && !s.empty(); ++row) {
        background_task::yieldIfDue();
        std::uint32_t* line = m_picture->row(row);
        std::fill(line + s.x0, line + s.x1, 0u);
    }
}

void Graphics::DrawPicture(Ref<Picture> const& picture, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
    std::int32_t sourceX, std::int32_t sourceY, std::int32_t sourceWidth, std::int32_t sourceHeight)
{
    Picture& source = picture.checked();
    if (!m_painter && !m_picture)
        RaiseNilObjectException();
    if (sourceWidth == Omitted)
        sourceWidth = source.Width() - sourceX;
    if (sourceHeight == Omitted)
        sourceHeight = source.Height() - sourceY;
    if (width == Omitted)
        width = sourceWidth;
    if (height == Omitted)
        height = sourceHeight;
    if (width <= 0 || height <= 0 || sourceWidth <= 0 || sourceHeight <= 0 || !source.hasPixels())
        return;

    QRect const target(x, y, width, height);
    QRect const area(sourceX, sourceY, sourceWidth, sourceHeight);
    if (m_painter) {
        drawOnCanvas(*m_painter, source, target, area);
        return;
    }
    Picture const& from = source; // reading counts as no write
    bool const scaled = width != sourceWidth || height != sourceHeight;
    if (scaled || m_picture == &source) {
        // A picture drawn onto itself is read from a copy, so that what is
        // drawn does not feed back into what is read.
        QImage const copy = m_picture == &source ? from.image().copy() : QImage();
        QImage const& image = copy.isNull() ? from.image() : copy;
        QPainter painter(&m_picture->image());
        painter.setRenderHint(QPainter::SmoothPixmapTransform, scaled);
        painter.drawImage(target, image, area);
        return;
    }

    // Unscaled onto a picture: blend the overlap of the source rectangle
    // (clipped to the source) and the destination (clipped to the target).
    std::int32_t const sx0 = std::max(sourceX, 0);
    std::int32_t const sy0 = std::max(sourceY, 0);
    std::int32_t const shiftX = x - sourceX;
    std::int32_t const shiftY = y - sourceY;
    Span const s = clipped(sx0 + shiftX, sy0 + shiftY,
        std::min(sourceX + sourceWidth, source.Width()) - sx0,
        std::min(sourceY + sourceHeight, source.Height()) - sy0,
        m_picture->Width(), m_picture->Height());
    if (s.empty())
        return;
    for (std::int32_t row = s.y0; row < s.y1; ++row) {
        background_task::yieldIfDue();
        std::uint32_t const* read = from.row(row - shiftY) + (s.x0 - shiftX);
        std::uint32_t* to = m_picture->row(row) + s.x0;
        for (std::int32_t i = 0, n = s.x1 - s.x0; i < n; ++i)
            to[i] = sourceOver(read[i], to[i]);
    }
}
