#include "runtime/imageformats/TiffSamples.h"

#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

using Colour = TiffSampleLayout::Colour;
using Format = TiffSampleLayout::Format;

template <class T>
T load(std::uint8_t const* at)
{
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// A 24-bit value, stored in the machine's order.
std::uint32_t load24(std::uint8_t const* at)
{
    if constexpr (std::endian::native == std::endian::little)
        return at[0] | std::uint32_t { at[1] } << 8 | std::uint32_t { at[2] } << 16;
    else
        return at[2] | std::uint32_t { at[1] } << 8 | std::uint32_t { at[0] } << 16;
}

// Value k of `bits` bits, packed from the high bits of each byte down.
std::uint32_t packedValue(std::uint8_t const* bytes, std::size_t k, int bits)
{
    std::size_t const first = k * static_cast<std::size_t>(bits);
    std::uint32_t value = 0;
    for (int i = 0; i < bits; ++i) {
        std::size_t const bit = first + static_cast<std::size_t>(i);
        value = value << 1 | ((bytes[bit / 8] >> (7 - bit % 8)) & 1u);
    }
    return value;
}

// Floating-point values of 16 and 24 bits: a sign, 5 or 7 bits of exponent
// and 10 or 16 bits of fraction.
double smallFloat(std::uint32_t value, int exponentBits, int fractionBits)
{
    int const bias = (1 << (exponentBits - 1)) - 1;
    std::uint32_t const fraction = value & ((1u << fractionBits) - 1);
    int const exponent = static_cast<int>((value >> fractionBits) & ((1u << exponentBits) - 1));
    double const sign = (value >> (exponentBits + fractionBits)) & 1 ? -1.0 : 1.0;
    if (exponent == (1 << exponentBits) - 1)
        return fraction ? std::numeric_limits<double>::quiet_NaN() : sign * std::numeric_limits<double>::infinity();
    if (exponent == 0)
        return sign * std::ldexp(static_cast<double>(fraction), 1 - bias - fractionBits);
    return sign * std::ldexp(static_cast<double>(fraction | 1u << fractionBits), exponent - bias - fractionBits);
}

template <class Word>
constexpr std::uint32_t Largest = std::numeric_limits<Word>::max();

// An unsigned value of `bits` bits scaled to the word's range, rounded.
template <class Word>
Word scaled(std::uint64_t value, int bits)
{
    if (bits == 64) {
        // 2^64 - 1 is 65535 x 281479271743489 and 255 x 72340172838076673.
        std::uint64_t const step = Largest<Word> == 255 ? 72340172838076673u : 281479271743489u;
        return static_cast<Word>(value / step + (value % step >= step / 2 + 1 ? 1 : 0));
    }
    std::uint64_t const largest = (std::uint64_t { 1 } << bits) - 1;
    return static_cast<Word>((value * Largest<Word> + largest / 2) / largest);
}

template <class Word>
Word fromFloat(double value)
{
    if (!(value > 0.0)) // NaN too
        return 0;
    return value >= 1.0 ? static_cast<Word>(Largest<Word>) : static_cast<Word>(std::lround(value * Largest<Word>));
}

}

bool TiffSampleLayout::handles(Colour colour, Format format, int bits)
{
    if (colour == Colour::YCbCr)
        return format == Format::Unsigned && bits == 8;
    if (colour == Colour::Palette)
        return format != Format::Float && bits >= 1 && bits <= 16;
    if (format == Format::Float)
        return bits == 16 || bits == 24 || bits == 32 || bits == 64;
    return (bits >= 1 && bits <= 32) || bits == 64;
}

int TiffSampleLayout::colourSamples(Colour colour)
{
    switch (colour) {
    case Colour::Rgb:
    case Colour::YCbCr: return 3;
    case Colour::Cmyk: return 4;
    default: return 1;
    }
}

std::size_t TiffSampleLayout::blockRowBytes(std::uint32_t pixels) const
{
    std::size_t const blocks = (pixels + static_cast<std::uint32_t>(across) - 1) / static_cast<std::uint32_t>(across);
    return blocks * static_cast<std::size_t>(across * down + 2);
}

TiffSampleConverter::TiffSampleConverter(TiffSampleLayout layout)
    : m_layout(std::move(layout))
    , m_bytes(m_layout.format != Format::Float && m_layout.bits <= 8)
{
    if (m_layout.colour != Colour::YCbCr)
        return;
    // The tables follow the structure, as the library lays them out.
    std::size_t const structure = (sizeof(TIFFYCbCrToRGB) + sizeof(long) - 1) / sizeof(long) * sizeof(long);
    m_yCbCrTables = std::make_unique<std::byte[]>(structure + 4 * 256 * sizeof(TIFFRGBValue) + 2 * 256 * sizeof(int) + 3 * 256 * sizeof(std::int32_t));
    TIFFYCbCrToRGBInit(reinterpret_cast<TIFFYCbCrToRGB*>(m_yCbCrTables.get()), m_layout.luma.data(), m_layout.referenceBlackWhite.data());
}

TiffSampleConverter::~TiffSampleConverter() = default;

void TiffSampleConverter::convert(std::span<std::uint8_t const* const> planes, std::uint32_t* argb, std::uint32_t count, int rowInBlock)
{
    if (m_layout.colour == Colour::YCbCr)
        yCbCrToArgb(planes[0], rowInBlock, argb, count);
    else if (m_layout.colour == Colour::Palette)
        paletteToArgb(planes[0], argb, count);
    else if (m_bytes)
        toArgb(unpack(planes, count, m_bytesOfRun), argb, count);
    else
        toArgb(unpack(planes, count, m_wordsOfRun), argb, count);
}

// The run's samples as words, pixel by pixel.
template <class Word>
Word const* TiffSampleConverter::unpack(std::span<std::uint8_t const* const> planes, std::uint32_t count, std::vector<Word>& words) const
{
    std::size_t const samples = static_cast<std::size_t>(m_layout.samples);
    bool const plainBytes = sizeof(Word) == 1 && m_layout.bits == 8 && m_layout.format == Format::Unsigned;
    if (plainBytes && !m_layout.separatePlanes)
        return reinterpret_cast<Word const*>(planes[0]);
    words.resize(count * samples);
    if (!m_layout.separatePlanes) {
        unpackPlane(planes[0], count * samples, words.data(), 1);
        return words.data();
    }
    for (std::size_t s = 0; s < samples; ++s)
        unpackPlane(planes[s], count, words.data() + s, samples);
    return words.data();
}

// `values` samples of the plane, the k-th to out[k * stride].
template <class Word>
void TiffSampleConverter::unpackPlane(std::uint8_t const* bytes, std::size_t values, Word* out, std::size_t stride) const
{
    int const bits = m_layout.bits;
    auto each = [&](auto valueOf) {
        for (std::size_t k = 0; k < values; ++k)
            out[k * stride] = valueOf(k);
    };
    if (m_layout.format == Format::Float) {
        switch (bits) {
        case 16: return each([&](std::size_t k) { return fromFloat<Word>(smallFloat(load<std::uint16_t>(bytes + 2 * k), 5, 10)); });
        case 24: return each([&](std::size_t k) { return fromFloat<Word>(smallFloat(load24(bytes + 3 * k), 7, 16)); });
        case 32: return each([&](std::size_t k) { return fromFloat<Word>(load<float>(bytes + 4 * k)); });
        default: return each([&](std::size_t k) { return fromFloat<Word>(load<double>(bytes + 8 * k)); });
        }
    }
    // Signed values become offset ones: the smallest is 0.
    std::uint64_t const offset = m_layout.format == Format::Signed ? std::uint64_t { 1 } << (bits - 1) : 0;
    switch (bits) {
    case 8:
        return each([&](std::size_t k) { return scaled<Word>(bytes[k] ^ offset, 8); });
    case 16:
        if constexpr (sizeof(Word) == 2)
            return each([&](std::size_t k) { return static_cast<Word>(load<std::uint16_t>(bytes + 2 * k) ^ offset); });
        break;
    case 24: return each([&](std::size_t k) { return scaled<Word>(load24(bytes + 3 * k) ^ offset, 24); });
    case 32: return each([&](std::size_t k) { return scaled<Word>(load<std::uint32_t>(bytes + 4 * k) ^ offset, 32); });
    case 64: return each([&](std::size_t k) { return scaled<Word>(load<std::uint64_t>(bytes + 8 * k) ^ offset, 64); });
    case 1:
    case 2:
    case 4:
        if (offset == 0 && stride == 1) {
            // Whole bytes at a time, as bilevel pages have them.
            int const perByte = 8 / bits;
            std::uint32_t const mask = (1u << bits) - 1;
            std::size_t k = 0;
            for (; k + static_cast<std::size_t>(perByte) <= values; k += static_cast<std::size_t>(perByte)) {
                std::uint32_t const byte = bytes[k / static_cast<std::size_t>(perByte)];
                for (int i = 0; i < perByte; ++i)
                    out[k + static_cast<std::size_t>(i)] = static_cast<Word>((byte >> (8 - bits * (i + 1)) & mask) * (Largest<Word> / mask));
            }
            for (; k < values; ++k)
                out[k] = scaled<Word>(packedValue(bytes, k, bits), bits);
            return;
        }
        break;
    default: break;
    }
    each([&](std::size_t k) { return scaled<Word>(packedValue(bytes, k, bits) ^ offset, bits); });
}

template <class Word>
void TiffSampleConverter::toArgb(Word const* words, std::uint32_t* argb, std::uint32_t count) const
{
    switch (m_layout.colour) {
    case Colour::Grey: return toArgbAs<Word, Colour::Grey>(words, argb, count);
    case Colour::InvertedGrey: return toArgbAs<Word, Colour::InvertedGrey>(words, argb, count);
    case Colour::Rgb: return toArgbAs<Word, Colour::Rgb>(words, argb, count);
    case Colour::Cmyk: return toArgbAs<Word, Colour::Cmyk>(words, argb, count);
    case Colour::Palette:
    case Colour::YCbCr: break;
    }
}

template <class Word, TiffSampleLayout::Colour colour>
void TiffSampleConverter::toArgbAs(Word const* words, std::uint32_t* argb, std::uint32_t count) const
{
    constexpr std::uint32_t largest = Largest<Word>;
    auto eightBits = [](std::uint32_t v) { return largest == 255 ? v : (v * 255 + 32767) / 65535; };
    // Ink of C, M, Y and K takes away light: of 8-bit samples as the
    // library's own conversion does it, truncated.
    auto light = [](std::uint32_t ink, std::uint32_t black) {
        return ((largest - ink) * (largest - black) + (largest == 255 ? 0 : largest / 2)) / largest;
    };
    std::size_t const samples = static_cast<std::size_t>(m_layout.samples);
    int const alphaAt = m_layout.alpha;
    bool const premultiplied = m_layout.premultiplied;
    for (std::uint32_t x = 0; x < count; ++x, words += samples) {
        std::uint32_t r, g, b;
        if constexpr (colour == Colour::Grey) {
            r = g = b = words[0];
        } else if constexpr (colour == Colour::InvertedGrey) {
            r = g = b = largest - words[0];
        } else if constexpr (colour == Colour::Rgb) {
            r = words[0], g = words[1], b = words[2];
        } else {
            r = light(words[0], words[3]), g = light(words[1], words[3]), b = light(words[2], words[3]);
        }
        std::uint32_t const a = alphaAt >= 0 ? words[alphaAt] : largest;
        if (premultiplied && a > 0 && a < largest) {
            auto straight = [a](std::uint32_t v) { return std::min(std::uint32_t { largest }, (v * largest + a / 2) / a); };
            r = straight(r), g = straight(g), b = straight(b);
        }
        argb[x] = eightBits(a) << 24 | eightBits(r) << 16 | eightBits(g) << 8 | eightBits(b);
    }
}

// Indices of 1 to 16 bits into the palette.
void TiffSampleConverter::paletteToArgb(std::uint8_t const* bytes, std::uint32_t* argb, std::uint32_t count) const
{
    int const bits = m_layout.bits;
    std::uint32_t const* colours = m_layout.palette.data();
    if (bits == 8) {
        for (std::uint32_t x = 0; x < count; ++x)
            argb[x] = colours[bytes[x]];
    } else if (bits == 16) {
        for (std::uint32_t x = 0; x < count; ++x)
            argb[x] = colours[load<std::uint16_t>(bytes + 2 * x)];
    } else {
        for (std::uint32_t x = 0; x < count; ++x)
            argb[x] = colours[packedValue(bytes, x, bits)];
    }
}

// Each pixel's luma with the chroma of its block.
void TiffSampleConverter::yCbCrToArgb(std::uint8_t const* blocks, int rowInBlock, std::uint32_t* argb, std::uint32_t count) const
{
    auto* const tables = reinterpret_cast<TIFFYCbCrToRGB*>(m_yCbCrTables.get());
    std::uint32_t const across = static_cast<std::uint32_t>(m_layout.across);
    std::size_t const blockBytes = static_cast<std::size_t>(m_layout.across * m_layout.down + 2);
    std::size_t const chroma = blockBytes - 2;
    for (std::uint32_t x = 0; x < count; ++x) {
        std::uint8_t const* const block = blocks + x / across * blockBytes;
        std::uint32_t r, g, b;
        TIFFYCbCrtoRGB(tables, block[static_cast<std::uint32_t>(rowInBlock) * across + x % across], block[chroma], block[chroma + 1], &r, &g, &b);
        argb[x] = 0xFF000000u | r << 16 | g << 8 | b;
    }
}
