#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>

namespace vd::numbers {

// A real as an integer the way the service's loosely typed numbers mean it: truncated toward
// zero, clamped at the ends of the range, NaN as 0.
template <typename Int>
Int saturatingCast(double value)
{
    if (std::isnan(value))
        return 0;
    if (value <= static_cast<double>(std::numeric_limits<Int>::min()))
        return std::numeric_limits<Int>::min();
    if (value >= static_cast<double>(std::numeric_limits<Int>::max()))
        return std::numeric_limits<Int>::max();
    return static_cast<Int>(value);
}

// The leading decimal number of a text (after spaces, with an optional sign), clamped to the
// range; 0 when the text does not start with one.
std::int64_t leadingInteger(std::string_view text);
// The same for a real number.
double leadingDouble(std::string_view text);

} // namespace vd::numbers
