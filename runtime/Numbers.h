#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

// Int32 to Double is exact.
constexpr double RuntimeCvtSInt32ToReal64(std::int32_t value) { return value; }

// Double to Int32, the one rule for every conversion: truncation toward zero;
// values beyond the Int32 range saturate; NaN gives 0.
constexpr std::int32_t RuntimeCvtReal64ToSInt32(double value)
{
    if (value != value)
        return 0;
    if (value >= 2147483647.0)
        return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0)
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

// The smaller and the larger of two Doubles.
constexpr double Min(double a, double b) { return b < a ? b : a; }
constexpr double Max(double a, double b) { return b > a ? b : a; }
