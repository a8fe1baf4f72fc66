#include "runtime/imageformats/OrientedRows.h"

#include "runtime/Picture.h"

#include <algorithm>

namespace {
// Rows held back for a turn: 64 rows of the widest picture are 8 MiB, and a
// band is placed as runs of 64 words into each of the upright rows.
constexpr std::int32_t BandHeight = 64;
}

OrientedRows::OrientedRows(Picture& picture, Orientation orientation, std::int32_t storedWidth, std::int32_t storedHeight)
    : m_picture(picture)
    , m_orientation(orientation)
    , m_storedWidth(storedWidth)
    , m_storedHeight(storedHeight)
{
    if (swapsSides(orientation))
        m_band.resize(static_cast<std::size_t>(storedWidth) * static_cast<std::size_t>(std::min(BandHeight, storedHeight)));
}

std::uint32_t* OrientedRows::row(std::int32_t y)
{
    complete();
    m_pending = y;
    switch (m_orientation) {
    case Orientation::AsStored:
    case Orientation::Mirrored:
        return m_picture.row(y);
    case Orientation::HalfTurn:
    case Orientation::Flipped:
        return m_picture.row(m_storedHeight - 1 - y);
    default:
        if (m_bandRows == 0)
            m_bandStart = y;
        return m_band.data() + static_cast<std::ptrdiff_t>(y - m_bandStart) * m_storedWidth;
    }
}

void OrientedRows::finish()
{
    complete();
    if (m_bandRows > 0)
        placeBand();
}

void OrientedRows::complete()
{
    if (m_pending < 0)
        return;
    std::int32_t const y = m_pending;
    m_pending = -1;
    switch (m_orientation) {
    case Orientation::AsStored:
    case Orientation::Flipped:
        return;
    case Orientation::Mirrored:
        std::reverse(m_picture.row(y), m_picture.row(y) + m_storedWidth);
        return;
    case Orientation::HalfTurn: {
        std::uint32_t* const upright = m_picture.row(m_storedHeight - 1 - y);
        std::reverse(upright, upright + m_storedWidth);
        return;
    }
    default:
        if (++m_bandRows == BandHeight)
            placeBand();
    }
}

// Stored pixel (x, y) goes to upright column y or storedHeight - 1 - y, and
// to upright row x or storedWidth - 1 - x.
void OrientedRows::placeBand()
{
    bool const columnsReversed = m_orientation == Orientation::QuarterTurnClockwise || m_orientation == Orientation::Transversed;
    bool const rowsReversed = m_orientation == Orientation::Transversed || m_orientation == Orientation::QuarterTurnCounterClockwise;
    for (std::int32_t x = 0; x < m_storedWidth; ++x) {
        std::uint32_t* const upright = m_picture.row(rowsReversed ? m_storedWidth - 1 - x : x);
        for (std::int32_t i = 0; i < m_bandRows; ++i) {
            std::int32_t const y = m_bandStart + i;
            upright[columnsReversed ? m_storedHeight - 1 - y : y] = m_band[static_cast<std::size_t>(i) * static_cast<std::size_t>(m_storedWidth) + static_cast<std::size_t>(x)];
        }
    }
    m_bandRows = 0;
}
