#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <random>

#include <gtest/gtest.h>

#include "data/VDUtils.h"
#include "platform/Numbers.h"

namespace vd {
namespace {

// What printf or strtod give in the C library's own locale, applied to this thread only while
// the process keeps the comma one: what every locale must give.
template <typename Call>
auto inCLibraryLocale(Call call)
{
    const locale_t plain = newlocale(LC_ALL_MASK, "C", nullptr);
    const locale_t previous = uselocale(plain);
    auto result = call();
    uselocale(previous);
    freelocale(plain);
    return result;
}

std::string printed(const char* pattern, double value)
{
    char text[512];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// Values with few decimals (ties of the rounding among them), sizes at any scale, and any bit
// pattern at all.
double drawValue(std::mt19937_64& random, int round)
{
    std::uint64_t bits = random();
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    const double few = static_cast<double>(bits % 2'000'001) / 1000.0 - 1000.0;
    return round % 3 == 0 ? few : round % 3 == 1 ? std::ldexp(few, static_cast<int>(bits % 80) - 40) : value;
}

// Value, number and unit: the same for a size and for a speed, which differ only at 0. One
// decimal up to 100 inclusive; 999.999 KB is still below the step, rounded up for display;
// negative values stay in bytes.
constexpr std::tuple<std::int64_t, const char*, const char*> kSizeCases[] = {
    {1, "1.0", "B"}, {100, "100.0", "B"}, {101, "101", "B"}, {1000, "1.0", "KB"}, {1536, "1.5", "KB"},
    {102400, "100.0", "KB"}, {1023999, "1000", "KB"}, {1024000, "1.0", "MB"}, {5LL << 30, "5.0", "GB"},
    {3LL << 40, "3.0", "TB"}, {7LL << 50, "7.0", "PB"}, {INT64_MAX, "8.0", "EB"},
    {-1, "-1.0", "B"}, {-5000, "-5000.0", "B"}, {INT64_MIN, "-9223372036854775808.0", "B"}};
// 999.999 s is still the two-decimal range; timestamps out of order make a negative difference.
constexpr std::pair<double, const char*> kDurationCases[] = {
    {0.0123, "12 ms"}, {9.999, "9999 ms"}, {10.0, "10.00 s"}, {12.345, "12.35 s"}, {999.999, "1000.00 s"},
    {1000.0, "1000.0 s"}, {3599.9, "3599.9 s"}, {3600.0, "1.00 h"}, {-0.5, "-500 ms"}};
constexpr std::pair<std::int64_t, const char*> kTTLCases[] = {
    {-1, ""}, {0, "0 s"}, {59, "59 s"}, {60, "1.0 m"}, {90, "1.5 m"}, {3599, "60.0 m"}, {3600, "1.0 h"}};

// The texts of sizes, speeds, durations and time-to-live values: these in every locale.
TEST(LocaleFormatting, SizesSpeedsDurationsAndTimeToLiveKeepTheirDot)
{
    // Nothing measured is a size's absence but a speed's zero.
    EXPECT_EQ(VDUtils::transformedValue(0, false), std::make_pair(std::string("--"), std::string()));
    EXPECT_EQ(VDUtils::transformedValue(0, true), std::make_pair(std::string("0"), std::string("B")));
    for (const auto& [value, number, unit] : kSizeCases) {
        EXPECT_EQ(VDUtils::transformedValue(value, false), std::make_pair(std::string(number), std::string(unit))) << value;
        EXPECT_EQ(VDUtils::transformedValue(value, true), std::make_pair(std::string(number), std::string(unit))) << value;
    }
    for (const auto& [seconds, text] : kDurationCases)
        EXPECT_EQ(VDUtils::formatDuration(seconds), text) << seconds;
    for (const auto& [seconds, text] : kTTLCases)
        EXPECT_EQ(VDUtils::formatTTL(seconds), text) << seconds;
}

TEST(LocaleFormatting, RealsPrintAsTheCLibraryPrintsThemInItsOwnLocale)
{
    // The reference is only a reference if the process's own printf would differ.
    ASSERT_EQ(printed("%.1f", 1.5), "1,5");
    std::mt19937_64 random(20240425);
    const double special[] = {0.0, -0.0, 0.05, 0.25, 2.5, -2.5, 999.95, 1e300, -1e308,
                              std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()};
    const auto compare = [](double value) {
        const std::array<std::string, 4> ours = {numbers::fixed(value, 0, 3), numbers::fixed(value, 1, 3), numbers::fixed(value, 2, 3),
                                                 numbers::general(value)};
        EXPECT_EQ(ours, inCLibraryLocale([&] {
                      return std::array<std::string, 4>{printed("%3.0f", value), printed("%3.1f", value), printed("%3.2f", value),
                                                        printed("%g", value)};
                  })) << value;
    };
    for (const double value : special)
        compare(value);
    for (int round = 0; round < 20'000 && !testing::Test::HasFailure(); ++round)
        compare(drawValue(random, round));
}

// Whatever the C library reads in its own locale reads alike, as a leading number and as a
// whole text.
TEST(LocaleParsing, NumbersFromTheServiceReadWithADot)
{
    ASSERT_EQ(std::strtod("1.5", nullptr), 1.0) << "the process's own strtod stops at the dot";
    const char* const texts[] = {"1.5", " \t+1.5", "-2.25e1 s", "1,5", ".5", "+-1", " 0.5", "0.5 s", "", " ", "abc", "7",
                                 "-0", "+.25", "1.", ".", "1e", "1e+", "1e-3x", "12.5.6", "inf", "-Infinity", "nan",
                                 "NAN(12)", "--1", "\n\v\f\r 3", "1e-320", "2e-400", "1e400", "-1e400", "0.001e-400",
                                 "123456789012345678901234567890e300", "1e99999999999999999999", "-1e-99999999999999999999"};
    for (const char* text : texts) {
        const double ours = numbers::leadingDouble(text);
        const auto whole = numbers::wholeDouble(text);
        const auto [theirs, readAll] = inCLibraryLocale([&] {
            char* end = nullptr;
            const double value = std::strtod(text, &end);
            return std::pair(value, end != text && *end == '\0');
        });
        // The sign of a zero counts too.
        EXPECT_EQ(std::isnan(ours), std::isnan(theirs)) << text;
        EXPECT_TRUE(std::isnan(theirs) || (ours == theirs && std::signbit(ours) == std::signbit(theirs))) << text;
        EXPECT_EQ(whole.has_value(), readAll) << text;
        EXPECT_TRUE(!whole || std::isnan(theirs) || *whole == theirs) << text;
    }
}

} // namespace
} // namespace vd
