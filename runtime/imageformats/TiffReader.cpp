#include "runtime/imageformats/TiffReader.h"

#include "runtime/BackgroundTask.h"
#include "runtime/Picture.h"
#include "runtime/imageformats/ImageFile.h"
#include "runtime/imageformats/OrientedRows.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

// No compression of the library gives more than 4096 bytes for a byte.
constexpr std::uint64_t LargestRatio = 4096;
// The library refuses single allocations above this: a damaged file's sizes
// cannot make it take more.
constexpr tmsize_t LargestAllocation = tmsize_t { 512 } << 20;

ImageFile& fileOf(thandle_t handle) { return *static_cast<ImageFile*>(handle); }

tmsize_t readFile(thandle_t handle, void* into, tmsize_t count)
{
    return static_cast<tmsize_t>(fileOf(handle).read(into, static_cast<std::size_t>(std::max<tmsize_t>(count, 0))));
}
tmsize_t writeNothing(thandle_t, void*, tmsize_t) { return -1; }
toff_t seekFile(thandle_t handle, toff_t offset, int whence)
{
    ImageFile& file = fileOf(handle);
    std::uint64_t const base = whence == SEEK_CUR ? file.position() : whence == SEEK_END ? file.size() : 0;
    if (!file.seek(base + offset))
        return static_cast<toff_t>(-1);
    return file.position();
}
int closeNothing(thandle_t) { return 0; }
toff_t sizeOf(thandle_t handle) { return fileOf(handle).size(); }
int mapNothing(thandle_t, void**, toff_t*) { return 0; }
void unmapNothing(thandle_t, void*, toff_t) { }

bool mentionsMemory(char const* text)
{
    return std::strstr(text, "emory") && !std::strstr(text, "limit");
}

// Errors mean the picture is not whole, and so do the codecs' warnings
// about their data; other warnings (an unknown tag) do not.
int onError(TIFF*, void* reports, char const*, char const* format, va_list arguments)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    auto& found = *static_cast<TiffReader::Reports*>(reports);
    found.damaged = true;
    if (mentionsMemory(text))
        found.outOfMemory = true;
    return 1;
}

int onWarning(TIFF*, void* reports, char const* module, char const*, va_list)
{
    if (module && (std::strstr(module, "Decode") || std::strncmp(module, "JPEG", 4) == 0))
        static_cast<TiffReader::Reports*>(reports)->damaged = true;
    return 1;
}

// Nothing reaches stderr, whatever path a message takes.
void silenceLibrary()
{
    static bool const silenced = [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        return true;
    }();
    (void)silenced;
}

std::uint32_t eightBits(std::uint8_t const* sample, int bits)
{
    if (bits == 8)
        return *sample;
    std::uint16_t value;
    std::memcpy(&value, sample, 2); // the library gives samples in the machine's order
    return (value * 255u + 32767u) / 65535u;
}

}

bool TiffReader::recognises(ImageFile const& file)
{
    auto const head = file.head();
    if (head.size() < 4)
        return false;
    return (head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0)
        || (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43));
}

TiffReader::TiffReader(ImageFile& file)
    : m_file(file)
{
}

TiffReader::~TiffReader()
{
    if (m_tiff)
        TIFFClose(m_tiff);
}

bool TiffReader::readHeader(ImageHeader& header)
{
    silenceLibrary();
    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
    if (!options)
        throw std::bad_alloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onError, &m_reports);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onWarning, &m_reports);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), LargestAllocation);
    m_file.seek(0);
    m_tiff = TIFFClientOpenExt(m_file.path().c_str(), "rm", &m_file, readFile, writeNothing, seekFile, closeNothing, sizeOf, mapNothing, unmapNothing, options.get());
    if (m_reports.outOfMemory)
        throw std::bad_alloc();
    if (!m_tiff || m_reports.damaged)
        return false;

    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    std::uint16_t extraCount = 0;
    std::uint16_t* extraKinds = nullptr;
    if (!TIFFGetField(m_tiff, TIFFTAG_IMAGEWIDTH, &m_width) || !TIFFGetField(m_tiff, TIFFTAG_IMAGELENGTH, &m_height))
        return false;
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_SAMPLESPERPIXEL, &m_samples);
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_BITSPERSAMPLE, &m_bits);
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_PLANARCONFIG, &m_planar);
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds);
    if (!TIFFGetField(m_tiff, TIFFTAG_PHOTOMETRIC, &m_photometric))
        m_photometric = m_samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    if (m_width == 0 || m_height == 0 || !dataCanHoldPicture())
        return false;

    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_COMPRESSION, &compression);
    if (compression == COMPRESSION_JPEG && m_photometric == PHOTOMETRIC_YCBCR) {
        // The JPEG codec turns its YCbCr into RGB itself.
        TIFFSetField(m_tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        m_photometric = PHOTOMETRIC_RGB;
    }
    int const colourSamples = m_photometric == PHOTOMETRIC_RGB ? 3 : 1;
    // An extra sample of no stated kind is alpha too, as common tools write
    // it: straight, like their other alpha.
    if (extraCount > 0 && m_samples > colourSamples && extraKinds) {
        m_alpha = colourSamples;
        m_premultiplied = extraKinds[0] == EXTRASAMPLE_ASSOCALPHA;
        m_libraryPremultiplies = extraKinds[0] == EXTRASAMPLE_ASSOCALPHA || extraKinds[0] == EXTRASAMPLE_UNASSALPHA;
    }
    header.width = m_width;
    header.height = m_height;
    header.orientation = orientation >= 1 && orientation <= 8 ? static_cast<Orientation>(orientation) : Orientation::AsStored;
    return true;
}

// Every strip or tile lies inside the file, and together they are long
// enough for the picture at the best compression of the library; without
// compression, each holds all of its bytes.
bool TiffReader::dataCanHoldPicture() const
{
    bool const tiled = TIFFIsTiled(m_tiff);
    std::uint32_t const pieces = tiled ? TIFFNumberOfTiles(m_tiff) : TIFFNumberOfStrips(m_tiff);
    std::uint64_t const* offsets = nullptr;
    std::uint64_t const* counts = nullptr;
    if (!TIFFGetField(m_tiff, tiled ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS, &offsets)
        || !TIFFGetField(m_tiff, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts) || !offsets || !counts)
        return false;
    std::uint64_t stored = 0;
    for (std::uint32_t i = 0; i < pieces; ++i) {
        if (offsets[i] > m_file.size() || counts[i] > m_file.size() - offsets[i])
            return false;
        stored += counts[i];
    }
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_COMPRESSION, &compression);
    std::uint64_t const rowBytes = (std::uint64_t { m_width } * m_samples * m_bits + 7) / 8;
    std::uint64_t const needed = rowBytes * m_height;
    if (compression == COMPRESSION_NONE)
        return stored >= needed || tiled; // tiles are padded to whole tiles: their sizes say more than the rows
    return stored * LargestRatio >= needed;
}

bool TiffReader::convertsExactly() const
{
    bool const grey = m_photometric == PHOTOMETRIC_MINISBLACK && (m_samples == 1 || m_alpha == 1);
    bool const rgb = m_photometric == PHOTOMETRIC_RGB && (m_samples == 3 || m_alpha == 3);
    bool const palette = m_photometric == PHOTOMETRIC_PALETTE && m_samples == 1 && m_bits <= 8;
    return (((grey || rgb) && (m_bits == 8 || m_bits == 16)) || palette) && m_planar == PLANARCONFIG_CONTIG;
}

// The palette as ARGB words. Its entries have 16 bits, but some writers
// put 8-bit values in them: a palette with no entry above 255 is one of
// those.
std::vector<std::uint32_t> TiffReader::palette() const
{
    std::vector<std::uint32_t> colours(256, 0xFF000000u);
    std::uint16_t* red = nullptr;
    std::uint16_t* green = nullptr;
    std::uint16_t* blue = nullptr;
    if (!TIFFGetField(m_tiff, TIFFTAG_COLORMAP, &red, &green, &blue))
        return {};
    std::size_t const entries = std::size_t { 1 } << m_bits;
    bool wide = false;
    for (std::size_t i = 0; i < entries; ++i)
        wide = wide || red[i] > 255 || green[i] > 255 || blue[i] > 255;
    auto eight = [wide](std::uint32_t v) { return wide ? (v * 255u + 32767u) / 65535u : v; };
    for (std::size_t i = 0; i < entries; ++i)
        colours[i] = 0xFF000000u | eight(red[i]) << 16 | eight(green[i]) << 8 | eight(blue[i]);
    return colours;
}

bool TiffReader::decode(Picture& picture)
{
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_ORIENTATION, &orientation);
    OrientedRows oriented(picture, orientation >= 1 && orientation <= 8 ? static_cast<Orientation>(orientation) : Orientation::AsStored,
        static_cast<std::int32_t>(m_width), static_cast<std::int32_t>(m_height));
    bool const whole = convertsExactly() ? decodeSamples(oriented) : decodeThroughLibrary(oriented);
    if (m_reports.outOfMemory)
        throw std::bad_alloc();
    if (!whole || m_reports.damaged)
        return false;
    oriented.finish();
    return true;
}

// Grey or RGB samples, with alpha or without, straight or premultiplied,
// from strips row by row or from tiles a row of tiles at a time.
bool TiffReader::decodeSamples(OrientedRows& rows)
{
    int const sampleBytes = std::max(m_bits / 8, 1);
    std::size_t const pixelBytes = static_cast<std::size_t>(m_samples) * static_cast<std::size_t>(sampleBytes);
    // A row of a strip or tile, in bytes: indices of fewer than 8 bits are
    // packed.
    auto rowBytes = [&](std::uint32_t pixels) { return (static_cast<std::size_t>(pixels) * m_samples * m_bits + 7) / 8; };
    bool const rgb = m_photometric == PHOTOMETRIC_RGB;
    std::vector<std::uint32_t> const colours = m_photometric == PHOTOMETRIC_PALETTE ? palette() : std::vector<std::uint32_t>();
    auto convert = [&](std::uint8_t const* samples, std::uint32_t* row, std::uint32_t count) {
        if (!colours.empty()) {
            // Indices of 1 to 8 bits, packed from the high bits down.
            unsigned const mask = (1u << m_bits) - 1;
            for (std::uint32_t x = 0; x < count; ++x) {
                std::uint32_t const bit = x * m_bits;
                row[x] = colours[(samples[bit / 8] >> (8 - m_bits - bit % 8)) & mask];
            }
            return;
        }
        for (std::uint32_t x = 0; x < count; ++x, samples += pixelBytes) {
            std::uint32_t const r = eightBits(samples, m_bits);
            std::uint32_t const g = rgb ? eightBits(samples + sampleBytes, m_bits) : r;
            std::uint32_t const b = rgb ? eightBits(samples + 2 * sampleBytes, m_bits) : r;
            std::uint32_t const a = m_alpha >= 0 ? eightBits(samples + m_alpha * sampleBytes, m_bits) : 255;
            if (m_premultiplied && a > 0 && a < 255) {
                auto straight = [a](std::uint32_t v) { return std::min<std::uint32_t>(255, (v * 255 + a / 2) / a); };
                row[x] = a << 24 | straight(r) << 16 | straight(g) << 8 | straight(b);
            } else {
                row[x] = a << 24 | r << 16 | g << 8 | b;
            }
        }
    };

    if (!TIFFIsTiled(m_tiff)) {
        std::vector<std::uint8_t> line(static_cast<std::size_t>(TIFFScanlineSize64(m_tiff)));
        if (line.size() < rowBytes(m_width))
            return false;
        if (m_photometric == PHOTOMETRIC_PALETTE && palette().empty())
            return false;
        for (std::uint32_t y = 0; y < m_height; ++y) {
            if (TIFFReadScanline(m_tiff, line.data(), y, 0) < 0 || m_reports.damaged)
                return false;
            convert(line.data(), rows.row(static_cast<std::int32_t>(y)), m_width);
            background_task::yieldIfDue();
        }
        return true;
    }

    std::uint32_t tileWidth = 0, tileHeight = 0;
    TIFFGetField(m_tiff, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(m_tiff, TIFFTAG_TILELENGTH, &tileHeight);
    if (tileWidth == 0 || tileHeight == 0)
        return false;
    std::size_t const tileBytes = static_cast<std::size_t>(TIFFTileSize64(m_tiff));
    if (tileBytes < rowBytes(tileWidth) * tileHeight || (m_photometric == PHOTOMETRIC_PALETTE && palette().empty()))
        return false;
    std::uint32_t const across = (m_width + tileWidth - 1) / tileWidth;
    std::vector<std::uint8_t> band(tileBytes * across);
    for (std::uint32_t top = 0; top < m_height; top += tileHeight) {
        for (std::uint32_t i = 0; i < across; ++i) {
            if (TIFFReadTile(m_tiff, band.data() + i * tileBytes, i * tileWidth, top, 0, 0) < 0 || m_reports.damaged)
                return false;
            background_task::yieldIfDue();
        }
        // Tiles that overrun the picture's edges hold padding there.
        for (std::uint32_t y = top; y < std::min(m_height, top + tileHeight); ++y) {
            std::uint32_t* const row = rows.row(static_cast<std::int32_t>(y));
            for (std::uint32_t i = 0; i < across; ++i) {
                std::uint32_t const left = i * tileWidth;
                convert(band.data() + i * tileBytes + (y - top) * rowBytes(tileWidth), row + left, std::min(tileWidth, m_width - left));
            }
        }
    }
    return true;
}

// The library's conversion gives words of R, G, B, A bytes, with alpha
// premultiplied where the file states its kind, in bands of the strips' or tiles' height, in the order the
// rows are stored.
bool TiffReader::decodeThroughLibrary(OrientedRows& rows)
{
    char message[1024] = {};
    if (!TIFFRGBAImageOK(m_tiff, message))
        return false;
    TIFFRGBAImage image {};
    if (!TIFFRGBAImageBegin(&image, m_tiff, 0, message))
        return false;
    std::unique_ptr<TIFFRGBAImage, void (*)(TIFFRGBAImage*)> ending(&image, TIFFRGBAImageEnd);
    image.req_orientation = image.orientation;

    std::uint32_t bandRows = 64;
    if (TIFFIsTiled(m_tiff))
        TIFFGetField(m_tiff, TIFFTAG_TILELENGTH, &bandRows);
    else
        TIFFGetFieldDefaulted(m_tiff, TIFFTAG_ROWSPERSTRIP, &bandRows);
    bandRows = std::clamp<std::uint32_t>(bandRows, 1, m_height);
    std::vector<std::uint32_t> band(static_cast<std::size_t>(m_width) * bandRows);
    for (std::uint32_t top = 0; top < m_height; top += bandRows) {
        std::uint32_t const count = std::min(bandRows, m_height - top);
        image.row_offset = static_cast<int>(top);
        image.col_offset = 0;
        if (!TIFFRGBAImageGet(&image, band.data(), m_width, count) || m_reports.damaged)
            return false;
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t* const row = rows.row(static_cast<std::int32_t>(top + i));
            std::uint32_t const* source = band.data() + static_cast<std::size_t>(i) * m_width;
            for (std::uint32_t x = 0; x < m_width; ++x) {
                std::uint32_t const abgr = source[x];
                std::uint32_t const a = TIFFGetA(abgr);
                std::uint32_t r = TIFFGetR(abgr), g = TIFFGetG(abgr), b = TIFFGetB(abgr);
                if (m_libraryPremultiplies && a > 0 && a < 255) {
                    r = std::min<std::uint32_t>(255, (r * 255 + a / 2) / a);
                    g = std::min<std::uint32_t>(255, (g * 255 + a / 2) / a);
                    b = std::min<std::uint32_t>(255, (b * 255 + a / 2) / a);
                }
                row[x] = a << 24 | r << 16 | g << 8 | b;
            }
        }
        background_task::yieldIfDue();
    }
    return true;
}
