#include "Numbers.h"

#include <cstdlib>
#include <string>

namespace vd::numbers {

std::int64_t leadingInteger(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
        ++i;
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
    // strtod needs a terminated string; number texts are short.
    const std::string copy(text);
    return std::strtod(copy.c_str(), nullptr);
}

} // namespace vd::numbers
