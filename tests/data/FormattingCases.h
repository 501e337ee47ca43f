#pragma once

#include <cstdint>
#include <limits>
#include <tuple>
#include <utility>

// The texts of sizes, speeds, durations and time-to-live values, checked under a locale that
// writes decimals with a comma: the texts must be these in every locale.
namespace vd::test {

// Value, number and unit: the same for a size and for a speed, which differ only at 0. One
// decimal up to 100 inclusive; 999.999 KB is still below the step, rounded up for display;
// negative values stay in bytes.
inline constexpr std::tuple<std::int64_t, const char*, const char*> kSizeCases[] = {
    {1, "1.0", "B"}, {100, "100.0", "B"}, {101, "101", "B"}, {1000, "1.0", "KB"}, {1536, "1.5", "KB"},
    {102400, "100.0", "KB"}, {1023999, "1000", "KB"}, {1024000, "1.0", "MB"}, {std::int64_t{5} << 30, "5.0", "GB"},
    {std::int64_t{3} << 40, "3.0", "TB"}, {std::int64_t{7} << 50, "7.0", "PB"}, {std::numeric_limits<std::int64_t>::max(), "8.0", "EB"},
    {-1, "-1.0", "B"}, {-5000, "-5000.0", "B"}, {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808.0", "B"}};

// 999.999 s is still the two-decimal range; timestamps out of order make a negative difference.
inline constexpr std::pair<double, const char*> kDurationCases[] = {
    {0.0123, "12 ms"}, {9.999, "9999 ms"}, {10.0, "10.00 s"}, {12.345, "12.35 s"}, {999.999, "1000.00 s"},
    {1000.0, "1000.0 s"}, {3599.9, "3599.9 s"}, {3600.0, "1.00 h"}, {-0.5, "-500 ms"}};

inline constexpr std::pair<std::int64_t, const char*> kTTLCases[] = {
    {-1, ""}, {0, "0 s"}, {59, "59 s"}, {60, "1.0 m"}, {90, "1.5 m"}, {3599, "60.0 m"}, {3600, "1.0 h"}};

} // namespace vd::test
