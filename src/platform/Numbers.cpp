#include "Numbers.h"

#include <algorithm>
#include <charconv>
#include <system_error>

namespace vd::numbers {
namespace {

// White space as the C library's "C" locale has it: space, \t, \n, \v, \f, \r.
constexpr bool isSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::size_t afterSpaces(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i]))
        ++i;
    return i;
}

// A decimal number the converter found out of a double's range is either too large or too
// close to zero. The place of its first significant digit, moved by the exponent, tells which:
// the number is 0.d... times ten to that place, so a positive place is beyond the largest double.
bool isTooLarge(std::string_view number)
{
    std::int64_t place = 0;
    bool afterPoint = false;
    bool significant = false;
    std::size_t i = 0;
    for (; i < number.size(); ++i) {
        const char c = number[i];
        if (c == '.') {
            afterPoint = true;
            continue;
        }
        if (c < '0' || c > '9')
            break;
        significant = significant || c != '0';
        if (significant && !afterPoint)
            ++place;
        else if (!significant && afterPoint)
            --place;
    }
    // What follows the digits can only be the exponent. Far beyond any double's exponent it
    // still only decides the direction, so it is held where the sum cannot overflow.
    constexpr std::int64_t kFar = 1'000'000'000;
    if (i < number.size())
        place += std::clamp(leadingInteger(number.substr(i + 1)), -kFar, kFar);
    return place > 0;
}

struct Scan {
    double value = 0;
    // Where the number ends in the text; 0 when there is none.
    std::size_t end = 0;
};

Scan scanDouble(std::string_view text)
{
    std::size_t i = afterSpaces(text);
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    // The converter takes a minus of its own, so "+-1" would read as -1; it is no number.
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        return {};
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    double value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error == std::errc::invalid_argument)
        return {};
    if (error == std::errc::result_out_of_range)
        value = isTooLarge(std::string_view(first, static_cast<std::size_t>(end - first)))
                    ? std::numeric_limits<double>::infinity()
                    : 0.0;
    return {negative ? -value : value, static_cast<std::size_t>(end - text.data())};
}

} // namespace

std::int64_t leadingInteger(std::string_view text)
{
    std::size_t i = afterSpaces(text);
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    std::uint64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            return negative ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
        magnitude = magnitude * 10 + digit;
    }
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (negative)
        return magnitude > kMax + 1 ? std::numeric_limits<std::int64_t>::min() : static_cast<std::int64_t>(0 - magnitude);
    return magnitude > kMax ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(magnitude);
}

double leadingDouble(std::string_view text)
{
    return scanDouble(text).value;
}

std::optional<double> wholeDouble(std::string_view text)
{
    const Scan scan = scanDouble(text);
    if (scan.end == 0 || scan.end != text.size())
        return std::nullopt;
    return scan.value;
}

std::string fixed(double value, int decimals, int width)
{
    decimals = std::max(decimals, 0);
    // Sizes and durations fit the small buffer; a double as large as 1e308 needs its 309 digits
    // before the point, and its sign and point besides.
    char small[64];
    auto result = std::to_chars(small, small + sizeof small, value, std::chars_format::fixed, decimals);
    std::string out;
    if (result.ec == std::errc()) {
        out.assign(small, result.ptr);
    } else {
        out.resize(static_cast<std::size_t>(std::numeric_limits<double>::max_exponent10 + 3 + decimals));
        result = std::to_chars(out.data(), out.data() + out.size(), value, std::chars_format::fixed, decimals);
        out.resize(static_cast<std::size_t>(result.ptr - out.data()));
    }
    if (out.size() < static_cast<std::size_t>(std::max(width, 0)))
        out.insert(0, static_cast<std::size_t>(width) - out.size(), ' ');
    return out;
}

std::string general(double value, int digits)
{
    // At most the digits, a sign, a point and an exponent of "e-308".
    char text[80];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, std::clamp(digits, 0, 60));
    return std::string(text, result.ptr);
}

} // namespace vd::numbers
