#pragma once

#include "runtime/ClassRecord.h"
#include "runtime/Color.h"

#include <cstdint>

class Picture;
class QPainter;

// A drawing context: of a picture, or of a canvas while it paints.
class Graphics : public RuntimeClass<Graphics> {
public:
    static ClassRecord buildRecord();

    // Stands for a size left out of DrawPicture: the source's own size.
    static constexpr std::int32_t Omitted = -10000;

    Color ForeColor() const { return m_foreColor; }
    void ForeColor(Color color) { m_foreColor = color; }

    // Fills the rectangle with ForeColor, drawn over what is there.
    void FillRect(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height);
    // Makes the rectangle fully transparent.
    void ClearRect(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height);
    // Draws the source rectangle of the picture scaled into the destination
    // rectangle, over what is there (source-over). Omitted for a size means
    // the source's own size. Onto a canvas, a picture that is shrunk shows
    // the average of the area each device pixel covers (from a reduced copy
    // that the picture keeps until it changes); an enlarged one is smoothly
    // filtered.
    void DrawPicture(Ref<Picture> const& picture, std::int32_t x, std::int32_t y,
        std::int32_t width = Omitted, std::int32_t height = Omitted,
        std::int32_t sourceX = 0, std::int32_t sourceY = 0,
        std::int32_t sourceWidth = Omitted, std::int32_t sourceHeight = Omitted);

    // The framework's ways to make one. A picture's context does not keep the
    // picture alive; the picture detaches it when it goes.
    static Ref<Graphics> forPicture(Picture& picture);
    static Ref<Graphics> forPainter(QPainter& painter, std::int32_t width, std::int32_t height);
    void detach();

private:
    Picture* m_picture = nullptr;
    QPainter* m_painter = nullptr;
    std::int32_t m_painterWidth = 0;
    std::int32_t m_painterHeight = 0;
    Color m_foreColor {};
};
