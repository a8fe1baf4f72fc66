#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class Picture;

// Turns a picture's rows into the filtered scanlines of an 8-bit RGBA PNG.
// Each row becomes R, G, B, A bytes, straight alpha, and is predicted from
// its neighbours by whichever of the five filters leaves the smallest sum of
// absolute differences (read as signed bytes): the usual choice, since small
// residues are what deflate compresses best. The choice depends only on the
// row and the one above it, so any band of rows filters alike on its own.
class PngRowFilter {
public:
    explicit PngRowFilter(Picture const& picture);

    // Bytes of one filtered scanline: the filter type, then the row.
    static std::size_t scanlineBytes(std::int32_t width) { return 1 + 4 * static_cast<std::size_t>(width); }

    // Filters rows first..end-1 into out, one scanline after the other.
    void filter(std::int32_t first, std::int32_t end, std::uint8_t* out);

private:
    void loadRow(std::int32_t y, std::uint8_t* rgba) const;
    void filterRow(std::uint8_t* out);

    Picture const& m_picture;
    std::size_t m_rowBytes;
    std::vector<std::uint8_t> m_above; // the row above as RGBA, zero above the first
    std::vector<std::uint8_t> m_row;
    std::vector<std::uint8_t> m_candidates; // sub, up, average, Paeth
};
