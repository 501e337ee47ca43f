#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "data/FormattingCases.h"
#include "data/VDTunnelInfo.h"
#include "data/VDUtils.h"
#include "link/JsonValues.h"
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

// A mix of values with few decimals (ties of the rounding among them), everyday sizes and
// durations, and any bit pattern at all.
double drawValue(std::mt19937_64& random, int round)
{
    switch (round % 4) {
    case 0: return static_cast<double>(random() % 2'000'001) / 1000.0 - 1000.0;
    case 1: return static_cast<double>(random() % 100'000) / 200.0 + 0.005;
    case 2: return std::ldexp(static_cast<double>(random() % 1'000'000), static_cast<int>(random() % 80) - 40);
    default: {
        const std::uint64_t bits = random();
        double value = 0;
        static_assert(sizeof value == sizeof bits);
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    }
}

TEST(LocaleFormatting, SizesSpeedsDurationsAndTimeToLiveKeepTheirDot)
{
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
        std::string fixed[3];
        std::string general;
        for (int decimals = 0; decimals < 3; ++decimals)
            fixed[decimals] = numbers::fixed(value, decimals, 3);
        general = numbers::general(value);
        const CLibraryLocale plain;
        EXPECT_EQ(fixed[0], printed("%3.0f", value));
        EXPECT_EQ(fixed[1], printed("%3.1f", value));
        EXPECT_EQ(fixed[2], printed("%3.2f", value));
        EXPECT_EQ(general, printed("%g", value));
    };
    for (const double value : special)
        compare(value);
    for (int round = 0; round < 20'000 && !testing::Test::HasFailure(); ++round)
        compare(drawValue(random, round));
}

TEST(LocaleParsing, NumbersFromTheServiceReadWithADot)
{
    ASSERT_EQ(std::strtod("1.5", nullptr), 1.0) << "the process's own strtod stops at the dot";
    const double infinity = std::numeric_limits<double>::infinity();
    const std::pair<const char*, double> leading[] = {{"1.5", 1.5},    {" \t+1.5", 1.5},     {"-2.25e1 s", -22.5},
                                                      {"1,5", 1.0},    {".5", 0.5},          {"+-1", 0.0},
                                                      {"1e400", infinity}, {"-1e400", -infinity}, {"0.001e-400", 0.0}};
    for (const auto& [text, value] : leading)
        EXPECT_EQ(numbers::leadingDouble(text), value) << text;
    EXPECT_EQ(numbers::wholeDouble(" 0.5"), 0.5);
    for (const char* text : {"0.5 s", "0,5", ""})
        EXPECT_EQ(numbers::wholeDouble(text), std::nullopt) << text;

    // Whatever the C library reads in its own locale reads alike.
    const char* const texts[] = {"", " ", "abc", "7", "-0", "+.25", "1.", ".", "1e", "1e+", "1e-3x", "12.5.6", "inf",
                                 "-Infinity", "nan", "NAN(12)", "--1", "\n\v\f\r 3", "1e-320", "2e-400",
                                 "123456789012345678901234567890e300", "0.000000000000000000001e-300",
                                 "1e99999999999999999999", "-1e-99999999999999999999"};
    for (const char* text : texts) {
        const double ours = numbers::leadingDouble(text);
        const CLibraryLocale plain;
        char* end = nullptr;
        const double theirs = std::strtod(text, &end);
        if (std::isnan(theirs)) {
            EXPECT_TRUE(std::isnan(ours)) << text;
        } else {
            EXPECT_EQ(ours, theirs) << text;
            EXPECT_EQ(std::signbit(ours), std::signbit(theirs)) << text;
        }
        EXPECT_EQ(numbers::wholeDouble(text).has_value(), end != text && *end == '\0') << text;
    }
}

TEST(LocaleParsing, RecordsAndPacketsReadTheirRealsWithADot)
{
    const auto tunnel = VDTunnelInfo::initWithJSONString(
        R"({"id":1,"t_start":"1.5","t_end":" +14.0","t_dns_resolved":1.25,"tx":"1536"})", 1000.0);
    ASSERT_TRUE(tunnel);
    EXPECT_EQ(tunnel->t_start(), 1.5);
    EXPECT_EQ(tunnel->t_end(), 14.0);
    EXPECT_EQ(tunnel->t_dns_resolved(), 1.25);
    EXPECT_EQ(tunnel->startTime(), 1001.5);
    EXPECT_EQ(VDUtils::formatDuration(tunnel->duration()), "12.50 s");
    EXPECT_EQ(tunnel->tx(), 1536);

    const nlohmann::ordered_json startTime = "1700000000.75";
    EXPECT_EQ(json::toDouble(&startTime), 1700000000.75);
}

} // namespace
} // namespace vd
