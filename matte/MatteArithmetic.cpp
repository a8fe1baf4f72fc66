#include "matte/MatteArithmetic.h"

MatteTable const& MatteTable::instance()
{
    static MatteTable const table;
    return table;
}

MatteTable::MatteTable()
{
    // Each entry is RGB of the arithmetic's own values, so the table holds
    // exactly the bytes a result pixel gets.
    for (int difference = -765; difference <= 765; ++difference) {
        MatteScalars const scalars = matteScalars(difference);
        Color const transparency = RGB(0, 0, 0, RuntimeCvtReal64ToSInt32(scalars.transparency));
        m_alpha[difference + 765] = static_cast<std::uint8_t>(storedPixel(transparency) >> 24);
        for (int c = 0; c < 256; ++c)
            m_channel[difference + 765][c] = static_cast<std::uint8_t>(RGB(matteChannel(c, scalars), 0, 0, 0).Red());
    }
}
