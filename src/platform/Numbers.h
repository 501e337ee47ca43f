#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

// Numbers in texts always use a dot, whatever locale the process runs in: the toolkit applies
// the user's locale to the C library, and printf and strtod would follow it ("1,5KB/s", and
// "1.5" from the service read as 1).
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

// The value of one hexadecimal digit of either case; -1 for any other character.
constexpr int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The leading decimal number of a text (after spaces, with an optional sign), clamped to the
// range; 0 when the text does not start with one.
std::int64_t leadingInteger(std::string_view text);

// The leading real number of a text, read as the C library reads it in its own locale: after
// white space, an optional sign, then decimal notation with an optional exponent, or "inf",
// "infinity" or "nan". Beyond the range it is an infinity, too close to zero it is 0; 0 when the
// text does not start with a number.
double leadingDouble(std::string_view text);
// The same when the text holds that number and nothing after it; none otherwise.
std::optional<double> wholeDouble(std::string_view text);

// printf's "%<width>.<decimals>f" (decimals from 0): correctly rounded, padded with spaces on
// the left up to `width` characters.
std::string fixed(double value, int decimals, int width = 0);
// printf's "%.<digits>g".
std::string general(double value, int digits = 6);

} // namespace vd::numbers
