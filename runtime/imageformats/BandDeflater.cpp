#include "runtime/imageformats/BandDeflater.h"

#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>

namespace {

constexpr std::size_t WindowBytes = 32768;
constexpr int MatcherLevel = 3;

// Bands from this size on are judged by slices: four of a 32nd each, an
// eighth of the band in all.
constexpr std::size_t JudgedBySlicesFrom = 256 * 1024;
constexpr std::size_t Slices = 4;
constexpr std::size_t SliceFraction = 32;

// Room for the band compressed, with some to spare for data that does not
// compress; the coders are given more when it is not enough.
std::size_t roomFor(std::span<std::uint8_t const> band)
{
    return band.size() + band.size() / 64 + 1024;
}

void grow(std::vector<std::uint8_t>& buffer)
{
    buffer.resize(buffer.size() * 2);
}

// A coder that stops before the end of its input would leave a hole in the
// file's data that no reader could tell from a whole picture.
void checkConsumed(std::size_t left)
{
    if (left != 0)
        throw std::logic_error("deflate left " + std::to_string(left) + " bytes of a band uncompressed");
}

}

BandDeflater::BandDeflater()
    : m_matcherState(ISAL_DEF_LVL3_DEFAULT)
{
}

void BandDeflater::compress(std::span<std::uint8_t const> before, std::span<std::uint8_t const> band, bool last, std::vector<std::uint8_t>& out)
{
    std::span<std::uint8_t const> compressed;
    if (band.size() < JudgedBySlicesFrom) {
        std::span<std::uint8_t const> const matched = compressWithMatches(before, band, last);
        std::span<std::uint8_t const> const runs = compressWithRuns(band, last);
        compressed = runs.size() < matched.size() ? runs : matched;
    } else if (runsDoBetter(band)) {
        compressed = compressWithRuns(band, last);
    } else {
        compressed = compressWithMatches(before, band, last);
    }
    // Room for the four bytes that end a chunk too, and no more: a band
    // held until it is written holds only what it needs.
    out.reserve(out.size() + compressed.size() + 4);
    out.insert(out.end(), compressed.begin(), compressed.end());
}

bool BandDeflater::runsDoBetter(std::span<std::uint8_t const> band)
{
    std::size_t const sliceBytes = band.size() / SliceFraction;
    std::size_t matched = 0;
    std::size_t runs = 0;
    for (std::size_t i = 0; i < Slices; ++i) {
        std::span<std::uint8_t const> const slice = band.subspan(i * band.size() / Slices, sliceBytes);
        matched += compressWithMatches({}, slice, true).size();
        runs += compressWithRuns(slice, true).size();
    }
    return runs <= matched;
}

std::span<std::uint8_t const> BandDeflater::compressWithMatches(std::span<std::uint8_t const> before, std::span<std::uint8_t const> band, bool last)
{
    isal_zstream stream;
    isal_deflate_init(&stream);
    stream.level = MatcherLevel;
    stream.level_buf = m_matcherState.data();
    stream.level_buf_size = static_cast<std::uint32_t>(m_matcherState.size());
    stream.gzip_flag = IGZIP_DEFLATE;
    if (!before.empty()) {
        std::span<std::uint8_t const> const window = before.last(std::min(before.size(), WindowBytes));
        if (isal_deflate_set_dict(&stream, const_cast<std::uint8_t*>(window.data()), static_cast<std::uint32_t>(window.size())) != COMP_OK)
            throw std::logic_error("the deflate window was refused");
    }
    stream.next_in = const_cast<std::uint8_t*>(band.data());
    stream.avail_in = static_cast<std::uint32_t>(band.size());
    stream.end_of_stream = last ? 1 : 0;
    stream.flush = last ? NO_FLUSH : SYNC_FLUSH;

    m_matched.resize(std::max(m_matched.size(), roomFor(band)));
    for (;;) {
        stream.next_out = m_matched.data() + stream.total_out;
        stream.avail_out = static_cast<std::uint32_t>(m_matched.size() - stream.total_out);
        if (isal_deflate(&stream) != COMP_OK)
            throw std::logic_error("deflate failed");
        // It stops early only when the output is full.
        if (stream.avail_out > 0)
            break;
        grow(m_matched);
    }
    checkConsumed(stream.avail_in);
    return { m_matched.data(), stream.total_out };
}

std::span<std::uint8_t const> BandDeflater::compressWithRuns(std::span<std::uint8_t const> band, bool last)
{
    z_stream stream {};
    if (deflateInit2(&stream, 1, Z_DEFLATED, -15, 9, Z_RLE) != Z_OK)
        throw std::bad_alloc();
    stream.next_in = const_cast<std::uint8_t*>(band.data());
    stream.avail_in = static_cast<uInt>(band.size());

    m_runs.resize(std::max(m_runs.size(), roomFor(band)));
    int const flush = last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
        stream.next_out = m_runs.data() + stream.total_out;
        stream.avail_out = static_cast<uInt>(m_runs.size() - stream.total_out);
        int const status = deflate(&stream, flush);
        if (status == Z_STREAM_ERROR) {
            deflateEnd(&stream);
            throw std::logic_error("deflate failed");
        }
        if (last ? status == Z_STREAM_END : stream.avail_out > 0)
            break;
        grow(m_runs);
    }
    std::size_t const length = stream.total_out;
    uInt const left = stream.avail_in;
    deflateEnd(&stream);
    checkConsumed(left);
    return { m_runs.data(), length };
}
