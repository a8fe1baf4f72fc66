#pragma once

#include <algorithm>
#include <cstdint>

// A colour as 0xTTRRGGBB: red, green and blue, and a transparency in the top
// byte that counts the other way from alpha (0 opaque, 255 fully clear).
struct Color {
    std::uint32_t value = 0;

    constexpr int Red() const { return static_cast<int>((value >> 16) & 0xFF); }
    constexpr int Green() const { return static_cast<int>((value >> 8) & 0xFF); }
    constexpr int Blue() const { return static_cast<int>(value & 0xFF); }
    constexpr int Transparency() const { return static_cast<int>(value >> 24); }
    constexpr int Alpha() const { return 255 - Transparency(); }

    constexpr bool operator==(Color const&) const = default;
};

// Pictures store straight ARGB words (alpha in the top byte); a Color differs
// from the stored word only in that its top byte counts transparency, which
// is 255 - alpha, so the two convert by flipping the top byte.
constexpr std::uint32_t storedPixel(Color color) { return color.value ^ 0xFF000000u; }
constexpr Color colorOfStoredPixel(std::uint32_t pixel) { return Color { pixel ^ 0xFF000000u }; }

// Makes a Color; each of the four values saturates to 0..255.
constexpr Color RGB(std::int32_t red, std::int32_t green, std::int32_t blue, std::int32_t transparency = 0)
{
    auto byte = [](std::int32_t v) { return static_cast<std::uint32_t>(std::clamp(v, 0, 255)); };
    return Color { byte(transparency) << 24 | byte(red) << 16 | byte(green) << 8 | byte(blue) };
}
