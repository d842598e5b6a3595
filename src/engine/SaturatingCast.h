#pragma once
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace tarnix {

// Converts a client's double to an integer register value: truncation toward
// zero, clamped to the target's range; NaN gives 0. A plain cast would be
// undefined behaviour for values out of range.
template <typename Int>
Int saturatingCast(double value) {
    static_assert(std::is_integral<Int>::value, "integer target");
    if (std::isnan(value)) return 0;
    constexpr Int lo = std::numeric_limits<Int>::min();
    constexpr Int hi = std::numeric_limits<Int>::max();
    // Compare in double: lo is exact (a power of two or 0); hi + 1 is exact too.
    if (value <= static_cast<double>(lo)) return lo;
    if (value >= static_cast<double>(hi) + 1.0) return hi;
    const double truncated = std::trunc(value);
    if (truncated >= static_cast<double>(hi)) return hi;
    return static_cast<Int>(truncated);
}

}  // namespace tarnix
