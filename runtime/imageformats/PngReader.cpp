#include "runtime/imageformats/PngReader.h"

#include "runtime/BackgroundTask.h"
#include "runtime/Picture.h"
#include "runtime/imageformats/ImageFile.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <bit>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr std::array<unsigned char, 8> Signature { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
constexpr std::size_t ChunkHeaderBytes = 8;
constexpr std::size_t IhdrChunkBytes = ChunkHeaderBytes + 13 + 4;

// No deflate stream inflates to more than 1032 times its length.
constexpr std::uint64_t LargestInflateRatio = 1032;

// Compressed data is read and inflated in pieces of this size; inflated
// data is handed on in pieces of up to this size too.
constexpr std::size_t PieceBytes = 256 * 1024;
constexpr std::size_t HistoryBytes = 32 * 1024;
constexpr std::size_t LargestStoredBlock = 65535;

constexpr bool LittleEndian = std::endian::native == std::endian::little;

std::uint32_t bigEndian32(unsigned char const* bytes)
{
    return std::uint32_t { bytes[0] } << 24 | std::uint32_t { bytes[1] } << 16 | std::uint32_t { bytes[2] } << 8 | bytes[3];
}

void putBigEndian32(unsigned char* bytes, std::uint32_t value)
{
    bytes[0] = static_cast<unsigned char>(value >> 24);
    bytes[1] = static_cast<unsigned char>(value >> 16);
    bytes[2] = static_cast<unsigned char>(value >> 8);
    bytes[3] = static_cast<unsigned char>(value);
}

bool isType(unsigned char const* header, char const* type)
{
    return std::memcmp(header + 4, type, 4) == 0;
}

int channelsOf(int colourType)
{
    switch (colourType) {
    case 0: return 1;
    case 2: return 3;
    case 3: return 1;
    case 4: return 2;
    case 6: return 4;
    default: return 0;
    }
}

bool validDepth(int colourType, int depth)
{
    switch (colourType) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6: return depth == 8 || depth == 16;
    default: return false;
    }
}

// The bytes of the filtered rows of a w x h image: one filter byte a row.
std::uint64_t filteredBytes(std::uint64_t width, std::uint64_t height, std::uint64_t bitsPerPixel)
{
    if (width == 0 || height == 0)
        return 0;
    return height * (1 + (width * bitsPerPixel + 7) / 8);
}

// The seven passes of the interlaced layout: first column and row, steps.
struct Pass {
    std::uint64_t x, y, dx, dy;
};
// Rows of grey or RGB samples, with alpha or without, of one or two bytes
// (most significant first), as ARGB words. Two bytes are scaled to one with
// rounding.
struct SampleRows {
    int channels = 0;
    int sampleBytes = 1;

    template <int Channels, int Bytes>
    static void convertAs(unsigned char const* samples, std::uint32_t* target, std::size_t width)
    {
        auto sample = [&](std::size_t i) -> std::uint32_t {
            if constexpr (Bytes == 1)
                return samples[i];
            else
                return ((std::uint32_t { samples[2 * i] } << 8 | samples[2 * i + 1]) + 128u) / 257u; // round(v * 255 / 65535)
        };
        for (std::size_t x = 0; x < width; ++x) {
            std::size_t const at = x * Channels;
            std::uint32_t const r = sample(at);
            std::uint32_t const g = Channels >= 3 ? sample(at + 1) : r;
            std::uint32_t const b = Channels >= 3 ? sample(at + 2) : r;
            std::uint32_t const a = Channels == 2 ? sample(at + 1) : Channels == 4 ? sample(at + 3) : 255u;
            target[x] = a << 24 | r << 16 | g << 8 | b;
        }
    }

    void convert(unsigned char const* samples, std::uint32_t* target, std::size_t width) const
    {
        switch (channels * 10 + sampleBytes) {
        case 11: return convertAs<1, 1>(samples, target, width);
        case 12: return convertAs<1, 2>(samples, target, width);
        case 21: return convertAs<2, 1>(samples, target, width);
        case 22: return convertAs<2, 2>(samples, target, width);
        case 31: return convertAs<3, 1>(samples, target, width);
        case 32: return convertAs<3, 2>(samples, target, width);
        case 41: return convertAs<4, 1>(samples, target, width);
        default: return convertAs<4, 2>(samples, target, width);
        }
    }
};

constexpr std::array<Pass, 7> Adam7 { { { 0, 0, 8, 8 }, { 4, 0, 8, 8 }, { 0, 4, 4, 8 }, { 2, 0, 4, 4 }, { 0, 2, 2, 4 }, { 1, 0, 2, 2 }, { 0, 1, 1, 2 } } };

}

bool PngReader::recognises(ImageFile const& file)
{
    auto const head = file.head();
    return head.size() >= Signature.size() && std::equal(Signature.begin(), Signature.end(), head.begin());
}

PngReader::PngReader(ImageFile& file)
    : m_file(file)
{
}

PngReader::~PngReader() = default;

bool PngReader::readHeader(ImageHeader& header)
{
    unsigned char bytes[Signature.size() + IhdrChunkBytes];
    if (!m_file.seek(0) || !m_file.readExactly(bytes, sizeof bytes))
        return false;
    unsigned char const* const chunk = bytes + Signature.size();
    unsigned char const* const data = chunk + ChunkHeaderBytes;
    if (bigEndian32(chunk) != 13 || !isType(chunk, "IHDR") || bigEndian32(data + 13) != crc32_gzip_refl(0, chunk + 4, 17))
        return false;
    m_width = bigEndian32(data);
    m_height = bigEndian32(data + 4);
    int const depth = data[8];
    int const colourType = data[9];
    int const interlace = data[12];
    if (m_width == 0 || m_height == 0 || m_width > 0x7FFFFFFFu || m_height > 0x7FFFFFFFu)
        return false;
    if (!validDepth(colourType, depth) || data[10] != 0 || data[11] != 0 || interlace > 1)
        return false;

    std::uint64_t const bitsPerPixel = static_cast<std::uint64_t>(channelsOf(colourType) * depth);
    m_imageBytes = 0;
    if (interlace == 0) {
        m_imageBytes = filteredBytes(m_width, m_height, bitsPerPixel);
    } else {
        for (Pass const& pass : Adam7) {
            std::uint64_t const width = m_width > pass.x ? (m_width - pass.x + pass.dx - 1) / pass.dx : 0;
            std::uint64_t const height = m_height > pass.y ? (m_height - pass.y + pass.dy - 1) / pass.dy : 0;
            m_imageBytes += filteredBytes(width, height, bitsPerPixel);
        }
    }
    // A file too short to hold its rows even at the best compression is cut
    // or lies about its size.
    if (m_file.size() * LargestInflateRatio < m_imageBytes)
        return false;
    header.width = m_width;
    header.height = m_height;
    return true;
}

// One decode: libpng's reader, fed chunk by chunk, and the inflater.
struct PngReader::Decoding {
    Decoding(PngReader& owner, Picture& target)
        : reader(owner)
        , picture(target)
    {
    }
    ~Decoding()
    {
        if (png)
            png_destroy_read_struct(&png, &info, nullptr);
    }
    Decoding(Decoding const&) = delete;
    Decoding& operator=(Decoding const&) = delete;

    bool start();
    bool run();
    bool passChunk(unsigned char const* header);
    bool inflateChunk(std::uint32_t length);
    bool inflatePiece(unsigned char* data, std::size_t size);
    void handOn(unsigned char const* data, std::size_t size, bool last);
    void feed(unsigned char const* data, std::size_t size) { png_process_data(png, info, const_cast<unsigned char*>(data), size); }

    static void onInfo(png_structp png, png_infop info);
    static void onRow(png_structp png, png_bytep row, png_uint_32 y, int pass);
    static void onEnd(png_structp png, png_infop);
    static void onError(png_structp png, png_const_charp);
    static void onWarning(png_structp, png_const_charp) { }
    static png_voidp allocate(png_structp png, png_alloc_size_t size);
    static void release(png_structp, png_voidp memory) { std::free(memory); }

    PngReader& reader;
    Picture& picture;
    png_structp png = nullptr;
    png_infop info = nullptr;
    bool outOfMemory = false;
    bool interlaced = false;
    SampleRows rows; // for rows converted here; no channels for those that libpng converts
    bool ended = false;
    bool streamStarted = false;
    std::uint64_t handedOn = 0;

    std::unique_ptr<inflate_state> inflater;
    std::vector<unsigned char> compressed;
    std::vector<unsigned char> inflated; // history, then the new output
    std::vector<unsigned char> chunk; // a chunk of stored blocks for libpng
};

bool PngReader::Decoding::start()
{
    png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, this, onError, onWarning, this, allocate, release);
    if (png)
        info = png_create_info_struct(png);
    if (!png || !info)
        throw std::bad_alloc();
    inflater = std::make_unique<inflate_state>();
    isal_inflate_init(inflater.get());
    inflater->crc_flag = ISAL_ZLIB;
    compressed.resize(PieceBytes);
    inflated.resize(HistoryBytes + PieceBytes);
    // At most the whole output buffer at once, in stored blocks of 5 bytes
    // of header each, with the stream's start and end.
    std::size_t const blocks = inflated.size() / LargestStoredBlock + 1;
    chunk.resize(ChunkHeaderBytes + 2 + inflated.size() + 5 * blocks + 5 + 4 + 4);
    return true;
}

// Reads the file chunk by chunk. libpng gets the header, the palette and the
// transparency as they are, and the image data inflated; the chunks that
// do not change the pixels are passed over.
bool PngReader::Decoding::run()
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    // The checksums of the chunks and of the image data are checked here as
    // the file is read; the stored blocks made for libpng need none.
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    png_set_progressive_read_fn(png, this, onInfo, onRow, onEnd);

    ImageFile& file = reader.m_file;
    unsigned char start[Signature.size() + IhdrChunkBytes];
    if (!file.seek(0) || !file.readExactly(start, sizeof start))
        return false;
    feed(start, sizeof start);

    bool inImageData = false;
    for (;;) {
        unsigned char header[ChunkHeaderBytes];
        if (!file.readExactly(header, sizeof header))
            return false;
        std::uint32_t const length = bigEndian32(header);
        if (length > 0x7FFFFFFFu)
            return false;
        if (isType(header, "IDAT")) {
            if (!inflateChunk(length))
                return false;
            inImageData = true;
        } else if (inImageData || isType(header, "IEND")) {
            // The image data has ended: it must have ended whole.
            if (inflater->block_state != ISAL_BLOCK_FINISH || handedOn != reader.m_imageBytes)
                return false;
            handOn(nullptr, 0, true);
            static constexpr unsigned char end[] { 0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82 };
            feed(end, sizeof end);
            return ended;
        } else if (isType(header, "PLTE") || isType(header, "tRNS")) {
            if (!passChunk(header))
                return false;
        } else if (header[4] >= 'A' && header[4] <= 'Z') {
            return false; // a critical chunk that this reader does not know
        } else if (!file.seek(file.position() + length + 4)) {
            return false;
        }
    }
}

bool PngReader::Decoding::passChunk(unsigned char const* header)
{
    std::uint32_t const length = bigEndian32(header);
    if (length > PieceBytes - ChunkHeaderBytes - 4)
        return false;
    std::memcpy(compressed.data(), header, ChunkHeaderBytes);
    if (!reader.m_file.readExactly(compressed.data() + ChunkHeaderBytes, length + 4))
        return false;
    if (crc32_gzip_refl(0, compressed.data() + 4, length + 4) != bigEndian32(compressed.data() + ChunkHeaderBytes + length))
        return false;
    feed(compressed.data(), ChunkHeaderBytes + length + 4);
    return true;
}

bool PngReader::Decoding::inflateChunk(std::uint32_t length)
{
    ImageFile& file = reader.m_file;
    std::uint32_t crc = crc32_gzip_refl(0, reinterpret_cast<unsigned char const*>("IDAT"), 4);
    for (std::uint32_t left = length; left > 0;) {
        std::size_t const size = std::min<std::size_t>(left, PieceBytes);
        if (!file.readExactly(compressed.data(), size))
            return false;
        crc = crc32_gzip_refl(crc, compressed.data(), size);
        if (inflater->block_state != ISAL_BLOCK_FINISH && !inflatePiece(compressed.data(), size))
            return false;
        left -= static_cast<std::uint32_t>(size);
    }
    unsigned char stored[4];
    return file.readExactly(stored, 4) && bigEndian32(stored) == crc;
}

// Inflates the piece until the stream ends or the inflater can go no
// further without more input. The inflater reads ahead: once the input is
// used up it may still hold bits, and output for them, when the output
// buffer filled; it is called again with a fresh buffer until it makes no
// more progress.
bool PngReader::Decoding::inflatePiece(unsigned char* data, std::size_t size)
{
    inflate_state& state = *inflater;
    state.next_in = data;
    state.avail_in = static_cast<std::uint32_t>(size);
    while (state.block_state != ISAL_BLOCK_FINISH) {
        if (state.next_out == nullptr || state.avail_out == 0) {
            // Keep the last 32 KiB as history for the next output.
            std::size_t keep = 0;
            if (state.next_out) {
                keep = HistoryBytes;
                std::memmove(inflated.data(), state.next_out - HistoryBytes, HistoryBytes);
            }
            state.next_out = inflated.data() + keep;
            state.avail_out = static_cast<std::uint32_t>(inflated.size() - keep);
        }
        unsigned char* const before = state.next_out;
        std::uint32_t const inputBefore = state.avail_in;
        if (isal_inflate(&state) != ISAL_DECOMP_OK)
            return false;
        if (state.next_out == before && state.avail_in == inputBefore) {
            // No progress: the inflater needs the next piece, or, with
            // input left that it does not take, the stream is damaged.
            return state.avail_in == 0;
        }
        handOn(before, static_cast<std::size_t>(state.next_out - before), false);
    }
    return true;
}

// Hands inflated data on to libpng as one IDAT chunk of stored deflate
// blocks; the first one starts the zlib stream, the last one ends it. Data
// beyond the image's rows is dropped.
void PngReader::Decoding::handOn(unsigned char const* data, std::size_t size, bool last)
{
    size = static_cast<std::size_t>(std::min<std::uint64_t>(size, reader.m_imageBytes - handedOn));
    if (size == 0 && !last)
        return;
    handedOn += size;
    unsigned char* out = chunk.data() + ChunkHeaderBytes;
    if (!streamStarted) {
        *out++ = 0x78; // deflate, 32 KiB window
        *out++ = 0x01; // no dictionary; the pair is a multiple of 31
        streamStarted = true;
    }
    while (size > 0) {
        std::size_t const block = std::min(size, LargestStoredBlock);
        *out++ = 0; // a stored block, not the last
        out[0] = static_cast<unsigned char>(block);
        out[1] = static_cast<unsigned char>(block >> 8);
        out[2] = static_cast<unsigned char>(~block);
        out[3] = static_cast<unsigned char>(~block >> 8);
        std::memcpy(out + 4, data, block);
        out += 4 + block;
        data += block;
        size -= block;
    }
    if (last) {
        static constexpr unsigned char finalBlock[] { 1, 0, 0, 0xFF, 0xFF };
        std::memcpy(out, finalBlock, sizeof finalBlock);
        putBigEndian32(out + sizeof finalBlock, inflater->crc);
        out += sizeof finalBlock + 4;
    }
    std::uint32_t const length = static_cast<std::uint32_t>(out - chunk.data() - ChunkHeaderBytes);
    putBigEndian32(chunk.data(), length);
    std::memcpy(chunk.data() + 4, "IDAT", 4);
    putBigEndian32(out, 0); // not checked
    feed(chunk.data(), ChunkHeaderBytes + length + 4);
}

// The conversions to ARGB words, 0xAARRGGBB: bytes B, G, R, A in memory.
// The most common kinds, rows of grey or RGB samples of 8 or 16 bits, with
// alpha or without, one row after the other, are converted here in one pass;
// libpng converts all others.
void PngReader::Decoding::onInfo(png_structp png, png_infop info)
{
    auto* decoding = static_cast<Decoding*>(png_get_progressive_ptr(png));
    int const colourType = png_get_color_type(png, info);
    int const depth = png_get_bit_depth(png, info);
    if ((depth == 8 || depth == 16) && png_get_interlace_type(png, info) == PNG_INTERLACE_NONE
        && !png_get_valid(png, info, PNG_INFO_tRNS) && colourType != PNG_COLOR_TYPE_PALETTE) {
        decoding->rows = { channelsOf(colourType), depth == 16 ? 2 : 1 };
        png_read_update_info(png, info);
        return;
    }
    png_set_expand(png); // palettes, fewer than 8 bits, transparent colours
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    if (LittleEndian)
        png_set_bgr(png);
    png_set_filler(png, 0xFF, LittleEndian ? PNG_FILLER_AFTER : PNG_FILLER_BEFORE);
    if (!LittleEndian)
        png_set_swap_alpha(png);
    decoding->interlaced = png_set_interlace_handling(png) > 1;
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<std::size_t>(decoding->picture.Width()) * 4)
        png_error(png, "unexpected row size");
}

void PngReader::Decoding::onRow(png_structp png, png_bytep row, png_uint_32 y, int)
{
    auto* decoding = static_cast<Decoding*>(png_get_progressive_ptr(png));
    if (!row || y >= static_cast<png_uint_32>(decoding->picture.Height()))
        return;
    std::uint32_t* const target = decoding->picture.row(static_cast<std::int32_t>(y));
    auto const width = static_cast<std::size_t>(decoding->picture.Width());
    if (decoding->rows.channels > 0) {
        decoding->rows.convert(row, target, width);
    } else if (decoding->interlaced) {
        png_progressive_combine_row(png, reinterpret_cast<png_bytep>(target), row);
    } else {
        std::memcpy(target, row, width * 4);
    }
    background_task::yieldIfDue();
}

void PngReader::Decoding::onEnd(png_structp png, png_infop)
{
    static_cast<Decoding*>(png_get_progressive_ptr(png))->ended = true;
}

void PngReader::Decoding::onError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

png_voidp PngReader::Decoding::allocate(png_structp png, png_alloc_size_t size)
{
    void* const memory = std::malloc(size);
    if (!memory)
        static_cast<Decoding*>(png_get_mem_ptr(png))->outOfMemory = true;
    return memory;
}

bool PngReader::decode(Picture& picture)
{
    Decoding decoding(*this, picture);
    decoding.start();
    bool const whole = decoding.run();
    if (decoding.outOfMemory)
        throw std::bad_alloc();
    return whole;
}
