#include "runtime/imageformats/TiffReader.h"

#include "runtime/BackgroundTask.h"
#include "runtime/Picture.h"
#include "runtime/imageformats/ImageFile.h"
#include "runtime/imageformats/OrientedRows.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <vector>

namespace {

// None of the codecs of ratioIsBounded() gives more than 4096 bytes for a
// byte.
constexpr std::uint64_t LargestRatio = 4096;
// Samples stored in planes of their own are read through a handle a plane.
constexpr int MostPlanes = 8;
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

// A lack of memory, as the library words it. Its message for an allocation
// of no elements (a directory without entries) says the same, but no memory
// is lacking there; nor is it where the allocation is above the limit set
// for it.
bool mentionsMemory(char const* text)
{
    return std::strstr(text, "emory") && !std::strstr(text, "limit") && !std::strstr(text, "(0 elements");
}

// Warnings that a tag the pixels depend on was dropped: the library then
// goes on without it (a palette picture without its colour map as grey),
// which shows something other than what the file holds.
bool dropsPixelTag(char const* text)
{
    static char const* const tags[] = { "\"ColorMap\"", "\"BitsPerSample\"", "\"SamplesPerPixel\"", "\"SampleFormat\"",
        "\"ExtraSamples\"", "\"PhotometricInterpretation\"", "\"Predictor\"", "\"PlanarConfiguration\"", "\"Compression\"",
        "\"YCbCrSubsampling\"", "\"YCbCrCoefficients\"", "\"ReferenceBlackWhite\"", "\"JPEGTables\"", "\"FillOrder\"", "\"InkSet\"" };
    return std::any_of(std::begin(tags), std::end(tags), [text](char const* tag) { return std::strstr(text, tag) != nullptr; });
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

int onWarning(TIFF*, void* reports, char const* module, char const* format, va_list arguments)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    if ((module && (std::strstr(module, "Decode") || std::strncmp(module, "JPEG", 4) == 0)) || dropsPixelTag(text))
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

// The codecs whose output is at most LargestRatio times their input. The
// others have no useful bound: a blank row of a fax takes a bit, and zstd or
// LZMA store a page of one colour in a few bytes.
bool ratioIsBounded(std::uint16_t compression)
{
    switch (compression) {
    case COMPRESSION_NONE:
    case COMPRESSION_LZW:
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
    case COMPRESSION_PACKBITS:
    case COMPRESSION_JPEG:
        return true;
    default:
        return false;
    }
}

std::optional<TiffSampleLayout::Colour> colourOf(std::uint16_t photometric, std::uint16_t inkSet)
{
    using Colour = TiffSampleLayout::Colour;
    switch (photometric) {
    case PHOTOMETRIC_MINISBLACK: return Colour::Grey;
    case PHOTOMETRIC_MINISWHITE: return Colour::InvertedGrey;
    case PHOTOMETRIC_RGB: return Colour::Rgb;
    case PHOTOMETRIC_PALETTE: return Colour::Palette;
    case PHOTOMETRIC_YCBCR: return Colour::YCbCr;
    case PHOTOMETRIC_SEPARATED:
        if (inkSet == INKSET_CMYK)
            return Colour::Cmyk;
        return std::nullopt;
    default: return std::nullopt;
    }
}

std::optional<TiffSampleLayout::Format> formatOf(std::uint16_t sampleFormat)
{
    using Format = TiffSampleLayout::Format;
    switch (sampleFormat) {
    case SAMPLEFORMAT_UINT:
    case SAMPLEFORMAT_VOID: return Format::Unsigned;
    case SAMPLEFORMAT_INT: return Format::Signed;
    case SAMPLEFORMAT_IEEEFP: return Format::Float;
    default: return std::nullopt;
    }
}

// A run of a stored row: `count` pixels from `left` on, whose samples begin
// at the places given, one for each plane; for YCbCr, at its row of blocks,
// of which it is row `rowInBlock`.
struct StoredPiece {
    std::uint32_t left;
    std::uint32_t count;
    std::span<std::uint8_t const* const> planes;
    int rowInBlock = 0;
};
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
    for (tiff* handle : m_planeHandles)
        TIFFClose(handle);
    if (m_tiff)
        TIFFClose(m_tiff);
}

// A handle on the file's first directory; JPEG data of YCbCr pictures comes
// out as RGB.
tiff* TiffReader::open()
{
    silenceLibrary();
    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
    if (!options)
        throw std::bad_alloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onError, &m_reports);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onWarning, &m_reports);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), LargestAllocation);
    m_file.seek(0);
    TIFF* handle = TIFFClientOpenExt(m_file.path().c_str(), "rm", &m_file, readFile, writeNothing, seekFile, closeNothing, sizeOf, mapNothing, unmapNothing, options.get());
    if (m_reports.outOfMemory) {
        if (handle)
            TIFFClose(handle);
        throw std::bad_alloc();
    }
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t photometric = 0;
    if (handle && TIFFGetFieldDefaulted(handle, TIFFTAG_COMPRESSION, &compression) && compression == COMPRESSION_JPEG
        && TIFFGetField(handle, TIFFTAG_PHOTOMETRIC, &photometric) && photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(handle, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    return handle;
}

bool TiffReader::readHeader(ImageHeader& header)
{
    m_tiff = open();
    if (!m_tiff || m_reports.damaged || !readLayout())
        return false;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_ORIENTATION, &orientation);
    header.width = m_width;
    header.height = m_height;
    header.orientation = orientation >= 1 && orientation <= 8 ? static_cast<Orientation>(orientation) : Orientation::AsStored;
    // A side that no picture can have is refused as the header gives it,
    // before any of the data is read.
    if (m_width > Picture::MaximumSide || m_height > Picture::MaximumSide)
        return true;
    bool proveByDecoding = false;
    if (!dataCanHoldPicture(proveByDecoding) || m_reports.damaged || !workingMemoryIsPlausible())
        return false;
    // A file whose data is far smaller than its picture, in a codec that
    // allows that, is decoded once before its picture is made: a damaged
    // one then costs the time its data takes, and memory of a few rows.
    if (proveByDecoding && !allDataDecodes()) {
        if (m_reports.outOfMemory)
            throw std::bad_alloc();
        return false;
    }
    header.workingBytes = workingBytes();
    return true;
}

// The picture's size and how its samples are stored; whether they are
// converted here or by the library.
bool TiffReader::readLayout()
{
    std::uint16_t extraCount = 0;
    std::uint16_t* extraKinds = nullptr;
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    std::uint16_t inkSet = INKSET_CMYK;
    if (!TIFFGetField(m_tiff, TIFFTAG_IMAGEWIDTH, &m_width) || !TIFFGetField(m_tiff, TIFFTAG_IMAGELENGTH, &m_height) || m_width == 0 || m_height == 0)
        return false;
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_SAMPLESPERPIXEL, &m_samples);
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_BITSPERSAMPLE, &m_bits);
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_PLANARCONFIG, &m_planar);
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_COMPRESSION, &m_compression);
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_INKSET, &inkSet);
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds);
    if (!TIFFGetField(m_tiff, TIFFTAG_PHOTOMETRIC, &m_photometric))
        m_photometric = m_samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    if (m_compression == COMPRESSION_JPEG && m_photometric == PHOTOMETRIC_YCBCR)
        m_photometric = PHOTOMETRIC_RGB; // the codec turns its YCbCr into RGB itself

    std::optional<TiffSampleLayout::Colour> const colour = colourOf(m_photometric, inkSet);
    std::optional<TiffSampleLayout::Format> const format = formatOf(sampleFormat);
    int const colourSamples = colour ? TiffSampleLayout::colourSamples(*colour) : m_photometric == PHOTOMETRIC_RGB ? 3 : 1;
    // An extra sample of no stated kind is alpha too, as common tools write
    // it: straight, like their other alpha.
    bool const alpha = extraCount > 0 && m_samples > colourSamples && extraKinds;
    bool const premultiplied = alpha && extraKinds[0] == EXTRASAMPLE_ASSOCALPHA;
    m_libraryPremultiplies = alpha && (extraKinds[0] == EXTRASAMPLE_ASSOCALPHA || extraKinds[0] == EXTRASAMPLE_UNASSALPHA);
    bool const separate = m_planar == PLANARCONFIG_SEPARATE;
    using Colour = TiffSampleLayout::Colour;
    bool const samplesOfColourOnly = !colour || (*colour != Colour::Palette && *colour != Colour::YCbCr) || (m_samples == colourSamples && !separate);
    if (colour && format && TiffSampleLayout::handles(*colour, *format, m_bits) && m_samples >= colourSamples
        && samplesOfColourOnly && (!separate || m_samples <= MostPlanes)) {
        TiffSampleLayout layout;
        layout.colour = *colour;
        layout.format = *format;
        layout.bits = m_bits;
        layout.samples = m_samples;
        layout.separatePlanes = separate;
        layout.alpha = alpha ? colourSamples : -1;
        layout.premultiplied = premultiplied;
        if (*colour == Colour::Palette) {
            layout.palette = palette();
            if (layout.palette.empty())
                return false;
        }
        if (*colour != Colour::YCbCr || readYCbCr(layout)) {
            m_layout = std::move(layout);
            return true;
        }
    }
    // The library's conversion takes every sample for an unsigned integer.
    char message[1024] = {};
    return format == TiffSampleLayout::Format::Unsigned && TIFFRGBAImageOK(m_tiff, message);
}

// How YCbCr is subsampled and turned into RGB; false for the layouts that
// are left to the library: strips of rows that split a row of blocks, or
// rows of blocks that the library cannot read as whole rows.
bool TiffReader::readYCbCr(TiffSampleLayout& layout) const
{
    std::uint16_t across = 2, down = 2;
    float* luma = nullptr;
    float* referenceBlackWhite = nullptr;
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_YCBCRSUBSAMPLING, &across, &down);
    if (!TIFFGetFieldDefaulted(m_tiff, TIFFTAG_YCBCRCOEFFICIENTS, &luma) || !TIFFGetFieldDefaulted(m_tiff, TIFFTAG_REFERENCEBLACKWHITE, &referenceBlackWhite)
        || !luma || !referenceBlackWhite || (across != 1 && across != 2 && across != 4) || (down != 1 && down != 2 && down != 4))
        return false;
    // The library's own checks of the coefficients.
    if (std::isnan(luma[0]) || std::isnan(luma[1]) || std::isnan(luma[2]) || std::fabs(luma[1]) < 1e-10f)
        return false;
    for (int i = 0; i < 6; ++i)
        if (!(referenceBlackWhite[i] > static_cast<float>(-0x7FFFFFFF + 128) && referenceBlackWhite[i] < static_cast<float>(0x7FFFFFFF)))
            return false;
    layout.across = across;
    layout.down = down;
    std::copy(luma, luma + 3, layout.luma.begin());
    std::copy(referenceBlackWhite, referenceBlackWhite + 6, layout.referenceBlackWhite.begin());
    if (TIFFIsTiled(m_tiff))
        return true;
    std::uint32_t rowsPerStrip = m_height;
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    return (rowsPerStrip >= m_height || rowsPerStrip % down == 0) && layout.blockRowBytes(m_width) % down == 0;
}

// Every strip or tile lies inside the file, and together they are long
// enough for the picture at the best ratio of a codec that has one;
// uncompressed strips hold all of their bytes. The data of a codec without
// a useful ratio is proved by decoding it where it is short.
bool TiffReader::dataCanHoldPicture(bool& proveByDecoding) const
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
    // What the codec gives: whole tiles, or the rows of every plane, of
    // subsampled chroma where the picture has it.
    std::uint64_t const planes = m_planar == PLANARCONFIG_SEPARATE ? m_samples : 1;
    std::uint64_t const decoded = tiled ? TIFFTileSize64(m_tiff) * pieces : TIFFVStripSize64(m_tiff, m_height) * planes;
    if (decoded == 0)
        return false;
    if (m_compression == COMPRESSION_NONE)
        return stored >= decoded || tiled; // tiles are padded to whole tiles: their sizes say more than the rows
    if (stored * LargestRatio >= decoded)
        return true;
    proveByDecoding = !ratioIsBounded(m_compression);
    return proveByDecoding;
}

// The palette as ARGB words. Its entries have 16 bits, but some writers
// put 8-bit values in them: a palette with no entry above 255 is one of
// those.
std::vector<std::uint32_t> TiffReader::palette() const
{
    std::uint16_t* red = nullptr;
    std::uint16_t* green = nullptr;
    std::uint16_t* blue = nullptr;
    if (!TIFFGetField(m_tiff, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
        return {};
    std::size_t const entries = std::size_t { 1 } << m_bits;
    bool wide = false;
    for (std::size_t i = 0; i < entries; ++i)
        wide = wide || red[i] > 255 || green[i] > 255 || blue[i] > 255;
    auto eight = [wide](std::uint32_t v) { return wide ? (v * 255u + 32767u) / 65535u : v; };
    std::vector<std::uint32_t> colours(entries);
    for (std::size_t i = 0; i < entries; ++i)
        colours[i] = 0xFF000000u | eight(red[i]) << 16 | eight(green[i]) << 8 | eight(blue[i]);
    return colours;
}

// Hands each stored row, top to bottom, to visit(y, pieces): one piece of
// the whole row from strips, a piece a tile from tiles. Strips are read row
// by row, so a strip of the whole picture takes memory of a row; tiles a
// row of tiles at a time. False where the data is damaged. Rows of the
// kinds the library converts are only read, to prove their data; their
// size is the library's (subsampled chroma packs rows in blocks).
template <class Visit>
bool TiffReader::readStoredRows(Visit const& visit)
{
    std::size_t const planes = m_planar == PLANARCONFIG_SEPARATE ? m_samples : 1;
    int const samplesInPlane = planes == 1 ? m_samples : 1;
    auto bytesOfRow = [&](std::uint32_t pixels) { return (static_cast<std::uint64_t>(pixels) * samplesInPlane * m_bits + 7) / 8; };
    std::vector<std::uint8_t const*> places;
    std::vector<StoredPiece> pieces;

    // YCbCr stores rows of blocks, each `down` rows high: they are read
    // whole, and each of their rows visited.
    bool const blocks = m_layout && m_layout->colour == TiffSampleLayout::Colour::YCbCr;
    std::uint32_t const down = blocks ? static_cast<std::uint32_t>(m_layout->down) : 1;
    auto setRowInBlock = [&](std::uint32_t rowInPiece) {
        for (StoredPiece& piece : pieces)
            piece.rowInBlock = static_cast<int>(rowInPiece % down);
    };

    if (!TIFFIsTiled(m_tiff)) {
        // Each plane is read through a handle of its own, in order: a strip
        // is decoded once, however many rows it holds.
        if (planes > MostPlanes)
            return false;
        while (m_planeHandles.size() + 1 < planes) {
            tiff* const handle = open();
            if (!handle)
                return false;
            m_planeHandles.push_back(handle);
        }
        std::size_t const lineBytes = static_cast<std::size_t>(TIFFScanlineSize64(m_tiff));
        std::size_t const readBytes = blocks ? m_layout->blockRowBytes(m_width) : lineBytes;
        if (lineBytes == 0 || lineBytes * down != readBytes || (m_layout && !blocks && lineBytes < bytesOfRow(m_width)))
            return false;
        // The library reads the rows of the last row of blocks only within
        // the picture's height, and a single strip only within its rows.
        std::uint32_t const storedRows = (m_height + down - 1) / down * down;
        if (storedRows != m_height) {
            std::uint32_t rowsPerStrip = m_height;
            TIFFGetFieldDefaulted(m_tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
            TIFFSetField(m_tiff, TIFFTAG_IMAGELENGTH, storedRows);
            if (rowsPerStrip >= m_height && rowsPerStrip < storedRows)
                TIFFSetField(m_tiff, TIFFTAG_ROWSPERSTRIP, storedRows);
        }
        std::vector<std::uint8_t> lines(readBytes * planes);
        for (std::size_t p = 0; p < planes; ++p)
            places.push_back(lines.data() + p * readBytes);
        pieces.push_back({ 0, m_width, places });
        for (std::uint32_t y = 0; y < m_height; ++y) {
            for (std::size_t p = 0; y % down == 0 && p < planes; ++p) {
                tiff* const handle = p == 0 ? m_tiff : m_planeHandles[p - 1];
                for (std::uint32_t row = y; row < y + down; ++row)
                    if (TIFFReadScanline(handle, lines.data() + p * readBytes + (row - y) * lineBytes, row, static_cast<std::uint16_t>(p)) < 0 || m_reports.damaged)
                        return false;
            }
            setRowInBlock(y);
            visit(y, std::span<StoredPiece const>(pieces));
            background_task::yieldIfDue();
        }
        return true;
    }

    std::uint32_t tileWidth = 0, tileHeight = 0;
    TIFFGetField(m_tiff, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(m_tiff, TIFFTAG_TILELENGTH, &tileHeight);
    std::size_t const tileBytes = static_cast<std::size_t>(TIFFTileSize64(m_tiff));
    // The bytes from a row of the tile to the next, or from a row of blocks.
    std::size_t const tileRowBytes = blocks ? m_layout->blockRowBytes(tileWidth) : static_cast<std::size_t>(TIFFTileRowSize64(m_tiff));
    if (tileWidth == 0 || tileHeight == 0 || tileBytes == 0
        || (m_layout && (tileRowBytes < (blocks ? 1 : bytesOfRow(tileWidth)) || tileBytes < tileRowBytes * ((tileHeight + down - 1) / down))))
        return false;
    std::uint32_t const across = (m_width + tileWidth - 1) / tileWidth;
    std::vector<std::uint8_t> band(tileBytes * across * planes);
    places.resize(static_cast<std::size_t>(across) * planes);
    for (std::uint32_t i = 0; i < across; ++i)
        pieces.push_back({ i * tileWidth, std::min(tileWidth, m_width - i * tileWidth), std::span(places).subspan(i * planes, planes) });
    auto tileAt = [&](std::size_t plane, std::uint32_t i) { return band.data() + (plane * across + i) * tileBytes; };
    for (std::uint32_t top = 0; top < m_height; top += tileHeight) {
        for (std::size_t p = 0; p < planes; ++p) {
            for (std::uint32_t i = 0; i < across; ++i) {
                if (TIFFReadTile(m_tiff, tileAt(p, i), i * tileWidth, top, 0, static_cast<std::uint16_t>(p)) < 0 || m_reports.damaged)
                    return false;
                background_task::yieldIfDue();
            }
        }
        // Tiles that overrun the picture's edges hold padding there.
        for (std::uint32_t y = top; y < std::min(m_height, top + tileHeight); ++y) {
            for (std::uint32_t i = 0; i < across; ++i)
                for (std::size_t p = 0; p < planes; ++p)
                    places[i * planes + p] = tileAt(p, i) + (y - top) / down * tileRowBytes;
            setRowInBlock(y - top);
            visit(y, std::span<StoredPiece const>(pieces));
        }
    }
    return true;
}

bool TiffReader::allDataDecodes()
{
    return readStoredRows([](std::uint32_t, std::span<StoredPiece const>) { });
}

// Memory beside the picture: a row of tiles or of stored rows, or the
// library's bands. Sizes that a damaged header makes beyond any memory
// saturate.
std::uint64_t TiffReader::workingBytes() const
{
    auto times = [](std::uint64_t a, std::uint64_t b) {
        std::uint64_t product = 0;
        return __builtin_mul_overflow(a, b, &product) ? UINT64_MAX : product;
    };
    std::uint64_t const planes = m_planar == PLANARCONFIG_SEPARATE ? m_samples : 1;
    std::uint64_t bytes = 0;
    if (TIFFIsTiled(m_tiff)) {
        std::uint32_t tileWidth = 1;
        TIFFGetField(m_tiff, TIFFTAG_TILEWIDTH, &tileWidth);
        std::uint64_t const across = (m_width + std::max<std::uint32_t>(tileWidth, 1) - 1) / std::max<std::uint32_t>(tileWidth, 1);
        bytes = times(times(TIFFTileSize64(m_tiff), across), planes);
    } else if (m_layout) {
        std::uint64_t const down = m_layout->colour == TiffSampleLayout::Colour::YCbCr ? static_cast<std::uint64_t>(m_layout->down) : 1;
        bytes = times(times(TIFFScanlineSize64(m_tiff), down), planes);
    }
    if (!m_layout) {
        std::uint32_t bandRows = 64;
        TIFFGetFieldDefaulted(m_tiff, TIFFTAG_ROWSPERSTRIP, &bandRows);
        std::uint64_t const band = times(std::uint64_t { std::min(bandRows, m_height) } * m_width, 4) + TIFFStripSize64(m_tiff);
        bytes = bytes > UINT64_MAX - band ? UINT64_MAX : bytes + band;
    }
    return bytes;
}

// What the file needs beside its picture stays within what a valid file of
// its kind can need: 64-bit samples of a few channels in tiles or strips of
// the picture's height take some times its memory, and a small picture in
// the large tiles that some tools write takes some MiB. A damaged header
// that claims tiles or rows of far more is passed over before any of it is
// taken.
bool TiffReader::workingMemoryIsPlausible() const
{
    constexpr std::uint64_t timesThePicture = 8;
    constexpr std::uint64_t smallPicturesTake = std::uint64_t { 64 } << 20;
    std::uint64_t const pictureBytes = std::uint64_t { m_width } * m_height * 4;
    return workingBytes() <= std::max(pictureBytes * timesThePicture, smallPicturesTake);
}

bool TiffReader::decode(Picture& picture)
{
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_ORIENTATION, &orientation);
    OrientedRows oriented(picture, orientation >= 1 && orientation <= 8 ? static_cast<Orientation>(orientation) : Orientation::AsStored,
        static_cast<std::int32_t>(m_width), static_cast<std::int32_t>(m_height));
    bool const whole = m_layout ? decodeSamples(oriented) : decodeThroughLibrary(oriented);
    if (m_reports.outOfMemory)
        throw std::bad_alloc();
    if (!whole || m_reports.damaged)
        return false;
    oriented.finish();
    return true;
}

bool TiffReader::decodeSamples(OrientedRows& rows)
{
    TiffSampleConverter converter(*m_layout);
    return readStoredRows([&](std::uint32_t y, std::span<StoredPiece const> pieces) {
        std::uint32_t* const row = rows.row(static_cast<std::int32_t>(y));
        for (StoredPiece const& piece : pieces)
            converter.convert(piece.planes, row + piece.left, piece.count, piece.rowInBlock);
    });
}

// The library's conversion gives words of R, G, B, A bytes, with alpha
// premultiplied where the file states its kind, in bands of the strips' or
// tiles' height, in the order the rows are stored.
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
