#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// How a TIFF stores the samples of its pixels, as far as turning them into
// colours goes.
struct TiffSampleLayout {
    enum class Colour : std::uint8_t { Grey, InvertedGrey, Rgb, Cmyk, Palette, YCbCr };
    enum class Format : std::uint8_t { Unsigned, Signed, Float };

    Colour colour = Colour::Grey;
    Format format = Format::Unsigned;
    int bits = 8;
    int samples = 1; // a pixel's samples, extra ones included
    bool separatePlanes = false;
    int alpha = -1; // the sample that holds alpha, if any
    bool premultiplied = false;
    std::vector<std::uint32_t> palette; // 2^bits ARGB words, for Colour::Palette
    // For Colour::YCbCr, of 8 bits: blocks of across x down luma samples,
    // then Cb and Cr, rows of blocks after each other; and how they turn
    // into RGB.
    int across = 1;
    int down = 1;
    std::array<float, 3> luma {};
    std::array<float, 6> referenceBlackWhite {};

    // The bytes of a row of blocks of YCbCr `pixels` wide.
    std::size_t blockRowBytes(std::uint32_t pixels) const;

    // Whether samples of this format and size can be converted.
    static bool handles(Colour colour, Format format, int bits);
    // The samples of one colour, alpha not counted.
    static int colourSamples(Colour colour);
};

// Turns the stored samples of a run of pixels into straight ARGB words.
//
// Samples map to 8 bits over their type's whole range: unsigned integers
// from 0 to their largest value; signed integers from their smallest (black)
// to their largest value (white), as offset values; floating point from 0.0
// to 1.0, clamped, NaN as 0. Samples of 8 bits or fewer are worked on as
// bytes, all others at 16 bits; premultiplied colours are made straight at
// that precision, before they are rounded to 8 bits.
class TiffSampleConverter {
public:
    explicit TiffSampleConverter(TiffSampleLayout layout);

    ~TiffSampleConverter();

    // Converts `count` pixels whose samples begin at the given bytes: one
    // place for samples stored pixel by pixel, one for each sample where
    // each has a plane of its own. Each place begins on a byte; values of
    // 16 bits and more are in the machine's order. YCbCr is given by its
    // row of blocks and the row within them.
    void convert(std::span<std::uint8_t const* const> planes, std::uint32_t* argb, std::uint32_t count, int rowInBlock = 0);

private:
    template <class Word>
    Word const* unpack(std::span<std::uint8_t const* const> planes, std::uint32_t count, std::vector<Word>& words) const;
    template <class Word>
    void unpackPlane(std::uint8_t const* bytes, std::size_t values, Word* out, std::size_t stride) const;
    template <class Word>
    void toArgb(Word const* words, std::uint32_t* argb, std::uint32_t count) const;
    template <class Word, TiffSampleLayout::Colour colour>
    void toArgbAs(Word const* words, std::uint32_t* argb, std::uint32_t count) const;
    void paletteToArgb(std::uint8_t const* bytes, std::uint32_t* argb, std::uint32_t count) const;
    void yCbCrToArgb(std::uint8_t const* blocks, int rowInBlock, std::uint32_t* argb, std::uint32_t count) const;

    TiffSampleLayout m_layout;
    bool m_bytes; // worked on as bytes, else at 16 bits
    std::vector<std::uint8_t> m_bytesOfRun;
    std::vector<std::uint16_t> m_wordsOfRun;
    std::unique_ptr<std::byte[]> m_yCbCrTables; // libtiff's conversion, as its own RGBA conversion has it
};
