#pragma once

#include "runtime/imageformats/ImageReader.h"

#include <cstdint>
#include <vector>

class Picture;

// Places the stored rows of a picture, decoded top to bottom, into a picture
// that shows it upright. Orientations that keep rows as rows write straight
// into the picture's own rows; those that make rows into columns collect a
// band of rows at a time and place the band column by column, so memory
// stays at a band.
class OrientedRows {
public:
    // The picture has the upright size of a stored storedWidth x storedHeight.
    OrientedRows(Picture& picture, Orientation orientation, std::int32_t storedWidth, std::int32_t storedHeight);

    // Where stored row y is to be written, storedWidth ARGB words. Rows are
    // asked for in order, each once; a row is taken as written when the next
    // one is asked for, or at finish().
    std::uint32_t* row(std::int32_t y);

    // Places the rows still held back. Call it once the last row is written.
    void finish();

private:
    void complete();
    void placeBand();

    Picture& m_picture;
    Orientation m_orientation;
    std::int32_t m_storedWidth;
    std::int32_t m_storedHeight;
    std::int32_t m_pending = -1; // the stored row handed out last, until it is complete
    std::int32_t m_bandStart = 0;
    std::int32_t m_bandRows = 0;
    std::vector<std::uint32_t> m_band;
};
