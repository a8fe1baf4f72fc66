#include "runtime/imageformats/PngRowFilter.h"

#include "runtime/Picture.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

enum FilterType : std::uint8_t { None, Sub, Up, Average, Paeth };
constexpr std::size_t PixelBytes = 4;

// How far a residue is from zero, read as a signed byte: the smaller of it
// and its negation, as unsigned bytes.
std::uint8_t magnitude(std::uint8_t residue)
{
    return std::min(residue, static_cast<std::uint8_t>(-residue));
}

// The neighbour among left (a), above (b) and above-left (c) that is nearest
// to a + b - c, ties going to a, then b.
std::uint8_t paethPredictor(std::int16_t a, std::int16_t b, std::int16_t c)
{
    // 16 bits hold every distance, and let the compiler work on more bytes
    // at a time than ints would.
    auto const distance = [](int value) { return static_cast<std::int16_t>(value < 0 ? -value : value); };
    std::int16_t const distanceA = distance(b - c);
    std::int16_t const distanceB = distance(a - c);
    std::int16_t const distanceC = distance(a + b - 2 * c);
    std::int16_t const nearerOfBC = distanceB <= distanceC ? b : c;
    return static_cast<std::uint8_t>(distanceA <= distanceB && distanceA <= distanceC ? a : nearerOfBC);
}

}

PngRowFilter::PngRowFilter(Picture const& picture)
    : m_picture(picture)
    , m_rowBytes(PixelBytes * static_cast<std::size_t>(picture.Width()))
    , m_above(m_rowBytes)
    , m_row(m_rowBytes)
    , m_candidates(4 * m_rowBytes)
{
}

// The stored word 0xAARRGGBB as the bytes R, G, B, A.
void PngRowFilter::loadRow(std::int32_t y, std::uint8_t* rgba) const
{
    std::uint32_t const* words = m_picture.row(y);
    std::int32_t const width = m_picture.Width();
    for (std::int32_t x = 0; x < width; ++x) {
        std::uint32_t const word = words[x];
        std::uint8_t* pixel = rgba + PixelBytes * static_cast<std::size_t>(x);
        pixel[0] = static_cast<std::uint8_t>(word >> 16);
        pixel[1] = static_cast<std::uint8_t>(word >> 8);
        pixel[2] = static_cast<std::uint8_t>(word);
        pixel[3] = static_cast<std::uint8_t>(word >> 24);
    }
}

void PngRowFilter::filter(std::int32_t first, std::int32_t end, std::uint8_t* out)
{
    if (first > 0)
        loadRow(first - 1, m_above.data());
    else
        std::fill(m_above.begin(), m_above.end(), std::uint8_t { 0 });
    for (std::int32_t y = first; y < end; ++y) {
        loadRow(y, m_row.data());
        filterRow(out);
        out += 1 + m_rowBytes;
        std::swap(m_row, m_above);
    }
}

// Each filter's loop stores the residues and sums their magnitudes at once;
// the loops are plain enough for the compiler to vectorise.
void PngRowFilter::filterRow(std::uint8_t* out)
{
    std::size_t const n = m_rowBytes;
    std::uint8_t const* const row = m_row.data();
    std::uint8_t const* const above = m_above.data();
    std::uint8_t* const sub = m_candidates.data();
    std::uint8_t* const up = sub + n;
    std::uint8_t* const average = up + n;
    std::uint8_t* const paeth = average + n;
    std::array<unsigned, 5> sums {};

    for (std::size_t i = 0; i < n; ++i)
        sums[None] += magnitude(row[i]);
    // The first pixel has no left neighbour; zero stands in for it.
    for (std::size_t i = 0; i < PixelBytes; ++i) {
        sub[i] = row[i];
        average[i] = static_cast<std::uint8_t>(row[i] - (above[i] >> 1));
        paeth[i] = static_cast<std::uint8_t>(row[i] - above[i]);
        sums[Sub] += magnitude(sub[i]);
        sums[Average] += magnitude(average[i]);
        sums[Paeth] += magnitude(paeth[i]);
    }
    for (std::size_t i = 0; i < n; ++i) {
        up[i] = static_cast<std::uint8_t>(row[i] - above[i]);
        sums[Up] += magnitude(up[i]);
    }
    for (std::size_t i = PixelBytes; i < n; ++i) {
        sub[i] = static_cast<std::uint8_t>(row[i] - row[i - PixelBytes]);
        sums[Sub] += magnitude(sub[i]);
    }
    for (std::size_t i = PixelBytes; i < n; ++i) {
        average[i] = static_cast<std::uint8_t>(row[i] - ((row[i - PixelBytes] + above[i]) >> 1));
        sums[Average] += magnitude(average[i]);
    }
    for (std::size_t i = PixelBytes; i < n; ++i) {
        paeth[i] = static_cast<std::uint8_t>(row[i] - paethPredictor(row[i - PixelBytes], above[i], above[i - PixelBytes]));
        sums[Paeth] += magnitude(paeth[i]);
    }

    // Ties go to the simpler filter.
    std::uint8_t const* const candidates[] = { row, sub, up, average, paeth };
    FilterType best = None;
    for (FilterType type : { Sub, Up, Average, Paeth }) {
        if (sums[type] < sums[best])
            best = type;
    }
    out[0] = best;
    std::memcpy(out + 1, candidates[best], n);
}
