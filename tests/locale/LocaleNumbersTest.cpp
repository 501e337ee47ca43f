#include <array>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <random>

#include <gtest/gtest.h>

#include "data/FormattingCases.h"
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

TEST(LocaleFormatting, SizesSpeedsDurationsAndTimeToLiveKeepTheirDot)
{
    // Nothing measured is a size's absence but a speed's zero.
    EXPECT_EQ(VDUtils::transformedValue(0, false), std::make_pair(std::string("--"), std::string()));
    EXPECT_EQ(VDUtils::transformedValue(0, true), std::make_pair(std::string("0"), std::string("B")));
    for (const auto& [value, number, unit] : test::kSizeCases) {
        EXPECT_EQ(VDUtils::transformedValue(value, false), std::make_pair(std::string(number), std::string(unit))) << value;
        EXPECT_EQ(VDUtils::transformedValue(value, true), std::make_pair(std::string(number), std::string(unit))) << value;
    }
    for (const auto& [seconds, text] : test::kDurationCases)
        EXPECT_EQ(VDUtils::formatDuration(seconds), text) << seconds;
    for (const auto& [seconds, text] : test::kTTLCases)
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
