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

// The C library's own locale for this thread only, while the process keeps the comma one: what
// printf and strtod give inside is what every locale must give.
class CLibraryLocale {
public:
    CLibraryLocale() : locale_(newlocale(LC_ALL_MASK, "C", nullptr)), previous_(uselocale(locale_)) {}
    ~CLibraryLocale()
    {
        uselocale(previous_);
        freelocale(locale_);
    }
    CLibraryLocale(const CLibraryLocale&) = delete;
    CLibraryLocale& operator=(const CLibraryLocale&) = delete;

private:
    locale_t locale_;
    locale_t previous_;
};

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
        const std::string ours[] = {numbers::fixed(value, 0, 3), numbers::fixed(value, 1, 3), numbers::fixed(value, 2, 3), numbers::general(value)};
        const CLibraryLocale plain;
        EXPECT_EQ(ours[0], printed("%3.0f", value));
        EXPECT_EQ(ours[1], printed("%3.1f", value));
        EXPECT_EQ(ours[2], printed("%3.2f", value));
        EXPECT_EQ(ours[3], printed("%g", value));
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
        const CLibraryLocale plain;
        char* end = nullptr;
        const double theirs = std::strtod(text, &end);
        EXPECT_EQ(std::isnan(ours), std::isnan(theirs)) << text;
        if (!std::isnan(theirs)) {
            EXPECT_EQ(ours, theirs) << text;
            EXPECT_EQ(std::signbit(ours), std::signbit(theirs)) << text;
        }
        EXPECT_EQ(whole.has_value(), end != text && *end == '\0') << text;
        if (whole && !std::isnan(theirs)) {
            EXPECT_EQ(*whole, theirs) << text;
        }
    }
}

} // namespace
} // namespace vd
