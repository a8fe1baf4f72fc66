#include "runtime/imageformats/PngWriter.h"

#include "runtime/Picture.h"
#include "runtime/Workers.h"
#include "runtime/imageformats/BandDeflater.h"
#include "runtime/imageformats/PngRowFilter.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <thread>

namespace {

constexpr std::array<std::uint8_t, 8> Signature { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };

// The zlib stream's header: deflate with a 32 KiB window, fast compression,
// no preset dictionary (0x785E is a multiple of 31, as it must be).
constexpr std::array<std::uint8_t, 2> ZlibHeader { 0x78, 0x5E };

// About this much filtered data goes into one band: few seams, and for a
// camera-size picture many more bands than cores, so the cores finish
// together.
constexpr std::size_t BandBytes = std::size_t { 1 } << 20;

void putWord(std::uint8_t* at, std::uint32_t value)
{
    at[0] = static_cast<std::uint8_t>(value >> 24);
    at[1] = static_cast<std::uint8_t>(value >> 16);
    at[2] = static_cast<std::uint8_t>(value >> 8);
    at[3] = static_cast<std::uint8_t>(value);
}

void appendWord(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    out.resize(out.size() + 4);
    putWord(out.data() + out.size() - 4, value);
}

// A chunk is its data's length, its type, its data, and the CRC of the type
// and the data. Begin one, append its data, then end it.
std::size_t beginChunk(std::vector<std::uint8_t>& out, char const (&type)[5])
{
    std::size_t const start = out.size();
    out.resize(start + 4);
    out.insert(out.end(), type, type + 4);
    return start;
}

void endChunk(std::vector<std::uint8_t>& out, std::size_t start)
{
    putWord(out.data() + start, static_cast<std::uint32_t>(out.size() - start - 8));
    std::uint32_t const crc = crc32_gzip_refl(0, out.data() + start + 4, out.size() - start - 4);
    appendWord(out, crc);
}

// Few more workers than this help: the disk, or the caller's thread, is
// the limit by then. With this many, and a few bands each, a save holds
// well under 64 MiB beside its picture however slowly it is written.
constexpr std::size_t MaximumWorkers = 8;
constexpr std::size_t BandsAheadPerWorker = 2;

}

// What one thread needs to encode bands.
struct PngWriter::Encoder {
    explicit Encoder(Picture const& picture)
        : filter(picture)
    {
    }
    PngRowFilter filter;
    BandDeflater deflater;
    std::vector<std::uint8_t> scanlines;
};

PngWriter::PngWriter(Picture const& picture)
    : m_picture(picture)
{
    std::size_t const scanline = PngRowFilter::scanlineBytes(picture.Width());
    std::int32_t const rowsPerBand = static_cast<std::int32_t>(std::max<std::size_t>(1, BandBytes / scanline));
    for (std::int32_t first = 0; first < picture.Height(); first += rowsPerBand)
        m_bands.push_back({ first, std::min(picture.Height(), first + rowsPerBand), {} });

    // One core is left to the caller's thread, which paints the window
    // meanwhile and must not wait for a core to do it.
    std::size_t const cores = std::max(2u, std::thread::hardware_concurrency());
    std::size_t const workers = std::min({ cores - 1, m_bands.size(), MaximumWorkers });
    m_bandsAhead = workers * BandsAheadPerWorker;
    m_workers = std::make_unique<Workers>(workers, [this] { work(); });
}

PngWriter::~PngWriter()
{
    {
        std::lock_guard const lock(m_mutex);
        m_stopping = true;
    }
    m_room.notify_all();
    m_workers = nullptr; // waits for them
}

bool PngWriter::takeBand(std::size_t& index)
{
    std::unique_lock lock(m_mutex);
    m_room.wait(lock, [this] { return m_stopping || m_nextBand >= m_bands.size() || m_nextBand < m_released + m_bandsAhead; });
    if (m_stopping || m_nextBand >= m_bands.size())
        return false;
    index = m_nextBand++;
    return true;
}

void PngWriter::work()
{
    try {
        Encoder encoder(m_picture);
        for (std::size_t index; takeBand(index);) {
            encode(m_bands[index], encoder);
            std::lock_guard const lock(m_mutex);
            m_bands[index].done = true;
            m_bandDone.notify_all();
        }
    } catch (...) {
        std::lock_guard const lock(m_mutex);
        if (!m_failure)
            m_failure = std::current_exception();
        m_stopping = true;
        m_bandDone.notify_all();
        m_room.notify_all();
    }
}

void PngWriter::encode(Band& band, Encoder& encoder) const
{
    // The rows before the band are filtered again to give the window that
    // deflate may reach back into: they filter exactly as in their own band.
    std::size_t const scanline = PngRowFilter::scanlineBytes(m_picture.Width());
    std::int32_t const windowRows = static_cast<std::int32_t>((32768 + scanline - 1) / scanline);
    std::int32_t const before = std::min(band.first, windowRows);
    std::int32_t const rows = band.end - band.first;
    std::vector<std::uint8_t>& scanlines = encoder.scanlines;
    scanlines.resize(scanline * static_cast<std::size_t>(before + rows));
    encoder.filter.filter(band.first - before, band.end, scanlines.data());
    std::span<std::uint8_t const> const all(scanlines);
    std::span<std::uint8_t const> const window = all.first(scanline * static_cast<std::size_t>(before));
    std::span<std::uint8_t const> const data = all.subspan(window.size());
    band.adler = isal_adler32(1, data.data(), data.size());

    bool const last = band.end == m_picture.Height();
    std::size_t const start = beginChunk(band.chunk, "IDAT");
    if (band.first == 0)
        band.chunk.insert(band.chunk.end(), ZlibHeader.begin(), ZlibHeader.end());
    encoder.deflater.compress(window, data, last, band.chunk);
    if (!last)
        endChunk(band.chunk, start); // the last one ends with the stream's check value
}

// The stream ends with the Adler-32 of all its data, put together from the
// bands' own.
void PngWriter::finishStream(Band& last) const
{
    std::size_t const scanline = PngRowFilter::scanlineBytes(m_picture.Width());
    std::uint32_t adler = 1;
    for (Band const& band : m_bands)
        adler = static_cast<std::uint32_t>(adler32_combine(adler, band.adler, static_cast<z_off_t>(scanline * static_cast<std::size_t>(band.end - band.first))));
    appendWord(last.chunk, adler);
    endChunk(last.chunk, 0);
}

void PngWriter::waitFor(std::size_t index)
{
    Band& band = m_bands[index];
    if (m_workers->started() == 0) {
        if (!m_ownEncoder)
            m_ownEncoder = std::make_unique<Encoder>(m_picture);
        encode(band, *m_ownEncoder);
        return;
    }
    std::unique_lock lock(m_mutex);
    m_bandDone.wait(lock, [&] { return band.done || m_failure; });
    if (m_failure)
        std::rethrow_exception(m_failure);
}

// The band is written: its memory goes, and a worker may take one more.
void PngWriter::release(std::size_t index)
{
    std::vector<std::uint8_t>().swap(m_bands[index].chunk);
    std::lock_guard const lock(m_mutex);
    ++m_released;
    m_room.notify_all();
}

std::size_t PngWriter::heldBytes()
{
    std::lock_guard const lock(m_mutex);
    std::size_t held = 0;
    for (Band const& band : m_bands)
        held += band.done ? band.chunk.capacity() : 0;
    return held;
}

std::span<std::uint8_t const> PngWriter::next()
{
    std::size_t const piece = m_handedOut++;
    if (piece == 0) {
        m_piece.assign(Signature.begin(), Signature.end());
        std::size_t const start = beginChunk(m_piece, "IHDR");
        appendWord(m_piece, static_cast<std::uint32_t>(m_picture.Width()));
        appendWord(m_piece, static_cast<std::uint32_t>(m_picture.Height()));
        // 8 bits a channel, RGBA, deflate, adaptive filters, no interlace.
        m_piece.insert(m_piece.end(), { 8, 6, 0, 0, 0 });
        endChunk(m_piece, start);
        return m_piece;
    }
    std::size_t const index = piece - 1;
    if (index > 0 && index <= m_bands.size())
        release(index - 1);
    if (index < m_bands.size()) {
        waitFor(index);
        Band& band = m_bands[index];
        if (index + 1 == m_bands.size())
            finishStream(band);
        return band.chunk;
    }
    if (index == m_bands.size()) {
        m_piece.clear();
        endChunk(m_piece, beginChunk(m_piece, "IEND"));
        return m_piece;
    }
    return {};
}
