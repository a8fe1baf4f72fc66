#include "matte/MatteArithmetic.h"

MatteTable const& MatteTable::instance()
{
    static MatteTable const table;
    return table;
}

MatteTable::MatteTable()
{
    for (int difference = -765; difference <= 765; ++difference) {
        // A black-ground grey of value c against white-ground values that
        // give this difference runs the very arithmetic of matteValues.
        double const opacity = matteOpacity(difference);
        double const gain = matteGain(opacity);
        double const transparency = (1.0 - opacity) * 255.0;
        Color const opaque = RGB(0, 0, 0, RuntimeCvtReal64ToSInt32(transparency));
        m_alpha[difference + 765] = static_cast<std::uint8_t>(storedPixel(opaque) >> 24);
        for (int c = 0; c < 256; ++c) {
            Color const channel = RGB(RuntimeCvtReal64ToSInt32(RuntimeCvtSInt32ToReal64(c) * gain), 0, 0, 0);
            m_channel[difference + 765][c] = static_cast<std::uint8_t>(channel.Red());
        }
    }
}
