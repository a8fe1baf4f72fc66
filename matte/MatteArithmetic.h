#pragma once

#include "runtime/Color.h"
#include "runtime/Numbers.h"

#include <array>
#include <cstdint>

// The per-pixel arithmetic of the matte, written out step by step. Every
// faster form must give exactly the values this gives.
struct MatteValues {
    std::int32_t red, green, blue, fourth; // fourth counts transparency
    bool operator==(MatteValues const&) const = default;
};

// What one brightness difference (-765..765) gives: the gain that divides
// out the opacity and the transparency, each held as a Double.
struct MatteScalars {
    double gain;
    double transparency;
};

constexpr MatteScalars matteScalars(std::int32_t difference)
{
    double const opacity = ((RuntimeCvtSInt32ToReal64(difference) / 255.0) / 3.0) + 1.0;
    double const gain = opacity > 0.0 ? 1.0 / opacity : 0.0;
    return { gain, (1.0 - opacity) * 255.0 };
}

constexpr std::int32_t matteChannel(std::int32_t blackChannel, MatteScalars scalars)
{
    return RuntimeCvtReal64ToSInt32(RuntimeCvtSInt32ToReal64(blackChannel) * scalars.gain);
}

constexpr MatteValues matteValues(Color black, Color white)
{
    std::int32_t const difference = black.Red() - white.Red() + black.Green() - white.Green() + black.Blue() - white.Blue();
    MatteScalars const scalars = matteScalars(difference);
    return {
        matteChannel(black.Red(), scalars),
        matteChannel(black.Green(), scalars),
        matteChannel(black.Blue(), scalars),
        RuntimeCvtReal64ToSInt32(scalars.transparency),
    };
}

// The same arithmetic as a table: the result depends only on the brightness
// difference (-765..765) and on one black-ground channel (0..255), and RGB
// saturates each value to a byte, so every result byte can be looked up.
class MatteTable {
public:
    static MatteTable const& instance();

    // The stored result word for a black-ground and a white-ground word;
    // the top bytes of the inputs are not read.
    std::uint32_t compose(std::uint32_t black, std::uint32_t white) const
    {
        int const difference = channelSum(black) - channelSum(white);
        std::uint8_t const* row = m_channel[difference + 765].data();
        return std::uint32_t { m_alpha[difference + 765] } << 24
            | std::uint32_t { row[(black >> 16) & 0xFF] } << 16
            | std::uint32_t { row[(black >> 8) & 0xFF] } << 8
            | std::uint32_t { row[black & 0xFF] };
    }

    std::uint8_t channel(int difference, int blackChannel) const { return m_channel[difference + 765][blackChannel]; }
    std::uint8_t alpha(int difference) const { return m_alpha[difference + 765]; }

private:
    MatteTable();
    static int channelSum(std::uint32_t word) { return static_cast<int>(((word >> 16) & 0xFF) + ((word >> 8) & 0xFF) + (word & 0xFF)); }

    std::array<std::array<std::uint8_t, 256>, 1531> m_channel {};
    std::array<std::uint8_t, 1531> m_alpha {};
};
