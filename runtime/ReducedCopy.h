#pragma once

#include <QImage>
#include <QRect>
#include <QSize>

#include <cstddef>
#include <memory>

class Picture;

// A rectangle of a picture shrunk to a size in device pixels, for a canvas
// to show: every pixel is the average of the area of the picture that it
// covers, colours weighted by alpha (premultiplied), so the colour of clear
// pixels never shows and fine detail averages out instead of turning into
// false bands and sparkles.
class ReducedCopy {
public:
    ReducedCopy(QRect source, QImage image);
    ~ReducedCopy();
    ReducedCopy(ReducedCopy const&) = delete;
    ReducedCopy& operator=(ReducedCopy const&) = delete;

    // The source rectangle must lie inside the picture. Null when there is
    // no memory for the work.
    static std::unique_ptr<ReducedCopy> make(Picture const& picture, QRect source, QSize size);

    bool fits(QRect source, QSize size) const { return source == m_source && size == m_image.size(); }
    // Premultiplied ARGB, ready to be drawn without further filtering.
    QImage const& image() const { return m_image; }

    // The bytes that all reduced copies hold together.
    static std::size_t heldBytes();

private:
    QRect m_source;
    QImage m_image;
};
