#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <QColor>
#include <QImage>
#include <QSizeF>
#include <gtest/gtest.h>

#include "FormattingCases.h"
#include "data/QNIPAddress.h"
#include "data/VDUtils.h"
#include "platform/Base64.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"
#include "support/TempDir.h"

namespace vd {
namespace {

using namespace std::string_view_literals;
using Texts = std::pair<std::string, std::string>;

Bytes bytesOf(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

// Sets an environment variable for one test and puts the old value back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        apply(value);
    }
    ~ScopedEnv() { apply(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void apply(const std::optional<std::string>& value)
    {
        if (value)
            setenv(name_, value->c_str(), 1);
        else
            unsetenv(name_);
    }

    const char* name_;
    std::optional<std::string> old_;
};

// The C library reads the zone only in tzset(), so switching it takes both steps, both ways.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) : env_(std::in_place, "TZ", zone) { tzset(); }
    ~ScopedTimeZone()
    {
        env_.reset();
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<ScopedEnv> env_;
};

// ---------------------------------------------------------------------------------------------
// Sizes and speeds

TEST(VDUtilsTransformedValue, ZeroReadsAsNothingForASizeButAsZeroBytesForASpeed)
{
    EXPECT_EQ(VDUtils::transformedValue(0, false), (Texts{"--", ""}));
    EXPECT_EQ(VDUtils::transformedValue(0, true), (Texts{"0", "B"}));
}

TEST(VDUtilsTransformedValue, UnitsStepAtOneThousandButDivideByTenTwentyFour)
{
    for (const auto& [value, number, unit] : test::kSizeCases) {
        EXPECT_EQ(VDUtils::transformedValue(value, false), (Texts{number, unit})) << value;
        EXPECT_EQ(VDUtils::transformedValue(value, true), (Texts{number, unit})) << value << " as a speed";
    }
}

// ---------------------------------------------------------------------------------------------
// Durations and time-to-live

TEST(VDUtilsFormatDuration, EachUnitStartsAtItsEdge)
{
    for (const auto& [seconds, text] : test::kDurationCases)
        EXPECT_EQ(VDUtils::formatDuration(seconds), text) << seconds;
}

TEST(VDUtilsFormatDuration, OddInputStillGivesWholeTexts)
{
    // Far longer than any buffer sized for ordinary durations.
    const std::string huge = VDUtils::formatDuration(1e300);
    EXPECT_EQ(huge.size(), 297u + 5u);
    EXPECT_EQ(huge.substr(0, 5), "27777");
    EXPECT_EQ(huge.substr(huge.size() - 5), ".00 h");
    EXPECT_EQ(VDUtils::formatDuration(std::numeric_limits<double>::infinity()), "inf h");
    EXPECT_EQ(VDUtils::formatDuration(-std::numeric_limits<double>::infinity()), "-inf ms");
}

TEST(VDUtilsFormatTTL, SecondsMinutesAndHours)
{
    for (const auto& [seconds, text] : test::kTTLCases)
        EXPECT_EQ(VDUtils::formatTTL(seconds), text) << seconds;
}

// ---------------------------------------------------------------------------------------------
// Start times

TEST(VDUtilsStartTime, FormatsInUtc)
{
    ScopedTimeZone utc("UTC");
    EXPECT_EQ(VDUtils::formatTunnelStartTime(0), "00:00");
    EXPECT_EQ(VDUtils::formatTunnelStartTimeWithData(0), "1970-01-01 00:00");
    EXPECT_EQ(VDUtils::formatTunnelStartTime(1700000000.0), "22:13");
    EXPECT_EQ(VDUtils::formatTunnelStartTimeWithData(1700000000.0), "2023-11-14 22:13");
    EXPECT_EQ(VDUtils::formatTunnelStartTimeWithData(1700000000.75), "2023-11-14 22:13");
}

TEST(VDUtilsStartTime, SecondsAreCutTowardsThePast)
{
    ScopedTimeZone utc("UTC");
    EXPECT_EQ(VDUtils::formatTunnelStartTime(59.9), "00:00");
    EXPECT_EQ(VDUtils::formatTunnelStartTime(60.0), "00:01");
    EXPECT_EQ(VDUtils::formatTunnelStartTimeWithData(-0.5), "1969-12-31 23:59");
}

TEST(VDUtilsStartTime, UsesTheLocalZone)
{
    ScopedTimeZone plusTwo("XYZ-02"); // POSIX sign: two hours east of UTC
    EXPECT_EQ(VDUtils::formatTunnelStartTime(0), "02:00");
    EXPECT_EQ(VDUtils::formatTunnelStartTimeWithData(23 * 3600), "1970-01-02 01:00");
}

TEST(VDUtilsStartTime, DatesNoClockCanShowGiveEmptyTexts)
{
    ScopedTimeZone utc("UTC");
    EXPECT_EQ(VDUtils::formatTunnelStartTime(std::nan("")), "");
    EXPECT_EQ(VDUtils::formatTunnelStartTimeWithData(std::numeric_limits<double>::infinity()), "");
    EXPECT_EQ(VDUtils::formatTunnelStartTimeWithData(1e300), "");
}

// ---------------------------------------------------------------------------------------------
// Hex

Bytes countingBytes(std::size_t count)
{
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}

TEST(VDUtilsHexDump, LinesOfSixteenWithAGapAfterEight)
{
    EXPECT_EQ(VDUtils::hexStringOfData({}), " ");
    EXPECT_EQ(VDUtils::hexStringOfData(Bytes{0xAB}), " AB ");
    EXPECT_EQ(VDUtils::hexStringOfData(countingBytes(7)), " 00 01 02 03 04 05 06 ");
    EXPECT_EQ(VDUtils::hexStringOfData(countingBytes(8)), " 00 01 02 03 04 05 06 07  ");
    EXPECT_EQ(VDUtils::hexStringOfData(countingBytes(9)), " 00 01 02 03 04 05 06 07  08 ");
    EXPECT_EQ(VDUtils::hexStringOfData(countingBytes(16)), " 00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F  \n ");
    EXPECT_EQ(VDUtils::hexStringOfData(countingBytes(17)), " 00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F  \n 10 ");
    EXPECT_EQ(VDUtils::hexStringOfData(countingBytes(24)),
              " 00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F  \n 10 11 12 13 14 15 16 17  ");
}

TEST(VDUtilsHexDump, EveryByteValueInUpperCase)
{
    const std::string dump = VDUtils::hexStringOfData(countingBytes(256));
    ASSERT_EQ(dump.size(), 1u + 16 * 52);
    // The last line, which holds F0 to FF, from its leading space on.
    EXPECT_EQ(dump.substr(dump.size() - 53), " F0 F1 F2 F3 F4 F5 F6 F7  F8 F9 FA FB FC FD FE FF  \n ");
    EXPECT_EQ(dump.find_first_of("abcdef"), std::string::npos);
}

TEST(VDUtilsHexDump, LargeBodiesReadBackExactly)
{
    // Several megabytes take the whole-line writer and the large-page path; the odd length
    // leaves a partial line after them.
    Bytes body((std::size_t{3} << 19) + 9); // a dump of about 5 MB
    std::uint32_t state = 0x12345678;
    for (auto& byte : body) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    const std::string dump = VDUtils::hexStringOfData(body);
    ASSERT_EQ(dump.size(), 1 + (body.size() / 16) * 52 + 9 * 3 + 1);
    // The first line and the partial last one read as they would on their own.
    const std::span<const std::uint8_t> bytes(body);
    EXPECT_EQ(dump.substr(0, 53), VDUtils::hexStringOfData(bytes.first(16)));
    EXPECT_EQ(dump.substr(dump.size() - 29), VDUtils::hexStringOfData(bytes.last(9)));
    EXPECT_EQ(VDUtils::dataFromHexString(dump), body);
}

TEST(VDUtilsHexParse, SeparatorsAreSkippedAndCaseIgnored)
{
    EXPECT_EQ(VDUtils::dataFromHexString("0A 1b\nFF"), (Bytes{0x0A, 0x1B, 0xFF}));
    EXPECT_EQ(VDUtils::dataFromHexString("ABCD"), (Bytes{0xAB, 0xCD}));
    EXPECT_EQ(VDUtils::dataFromHexString("xx00, 7f;"), (Bytes{0x00, 0x7F}));
}

TEST(VDUtilsHexParse, PairsAreReadWhereTheyStart)
{
    // A digit followed by a separator counts on its own.
    EXPECT_EQ(VDUtils::dataFromHexString("a b"), (Bytes{0x0A}));
    EXPECT_EQ(VDUtils::dataFromHexString("0g"), (Bytes{0x00}));
    EXPECT_EQ(VDUtils::dataFromHexString("a\nbc"), (Bytes{0x0A, 0xBC}));
    // A digit in the last place has no partner and is dropped.
    EXPECT_EQ(VDUtils::dataFromHexString("abc"), (Bytes{0xAB}));
    EXPECT_EQ(VDUtils::dataFromHexString(" a"), Bytes{});
    EXPECT_EQ(VDUtils::dataFromHexString("a"), Bytes{});
    EXPECT_EQ(VDUtils::dataFromHexString(""), Bytes{});
    EXPECT_EQ(VDUtils::dataFromHexString("xyz"), Bytes{});
    EXPECT_EQ(VDUtils::dataFromHexString("a\0b"sv), (Bytes{0x0A}));
}

TEST(VDUtilsHexParse, ReadsBackItsOwnDump)
{
    const Bytes all = countingBytes(300);
    EXPECT_EQ(VDUtils::dataFromHexString(VDUtils::hexStringOfData(all)), all);
}

// ---------------------------------------------------------------------------------------------
// Base64

std::optional<std::string> decodedText(std::string_view text, bool urlSafe = false)
{
    const auto bytes = VDUtils::base64DecodeData(text, urlSafe);
    if (!bytes)
        return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

TEST(VDUtilsBase64, MissingPaddingIsAdded)
{
    EXPECT_EQ(decodedText("QUJD"), "ABC");
    EXPECT_EQ(decodedText("QUI"), "AB");
    EXPECT_EQ(decodedText("QUI="), "AB");
    EXPECT_EQ(decodedText("QQ"), "A");
    EXPECT_EQ(decodedText("QUJDRA"), "ABCD");
    EXPECT_EQ(decodedText(""), "");
}

TEST(VDUtilsBase64, UrlSafeCharactersOnlyWhenAsked)
{
    EXPECT_EQ(VDUtils::base64DecodeData("-_8", true), (Bytes{0xFB, 0xFF}));
    EXPECT_EQ(VDUtils::base64DecodeData("-_-_", true), (Bytes{0xFB, 0xFF, 0xBF}));
    // The standard characters still count in url-safe text.
    EXPECT_EQ(VDUtils::base64DecodeData("+/8", true), (Bytes{0xFB, 0xFF}));
    // Without the flag "-" and "_" are foreign and skipped, leaving a lone "8".
    EXPECT_EQ(VDUtils::base64DecodeData("-_8", false), std::nullopt);
    EXPECT_EQ(VDUtils::base64DecodeData("-_-_QUJD", false), bytesOf("ABC"));
}

TEST(VDUtilsBase64, ForeignCharactersAreSkipped)
{
    EXPECT_EQ(decodedText("QU\nJD"), "ABC");
    EXPECT_EQ(decodedText("Q U J D"), "ABC");
    EXPECT_EQ(decodedText("QUJD\r\nQUJD\r\n"), "ABCABC");
    EXPECT_EQ(decodedText("QU*I"), "AB");
    EXPECT_EQ(decodedText("QUI=\n"), "AB");
    EXPECT_EQ(decodedText("\xC3\xA9QUJD"), "ABC");
    EXPECT_EQ(decodedText("!!!!"), "");
}

TEST(VDUtilsBase64, TextThatCannotMakeBytesGivesNone)
{
    EXPECT_EQ(decodedText("Q"), std::nullopt);
    EXPECT_EQ(decodedText("QUJDR"), std::nullopt);
    EXPECT_EQ(decodedText("QU\nJDR"), std::nullopt);
    // Data after the end mark: two texts ran together.
    EXPECT_EQ(decodedText("QQ==QUJD"), std::nullopt);
    EXPECT_EQ(decodedText("QUJD=QUJD"), std::nullopt);
}

TEST(VDUtilsBase64, AgreesWithTheEncoderForEveryLength)
{
    Bytes bytes;
    for (std::size_t length = 0; length < 70; ++length) {
        const std::string text = base64::encode(bytes);
        EXPECT_EQ(VDUtils::base64DecodeData(text, false), bytes) << text;
        // Without its padding, and cut into lines, it still decodes to the same bytes.
        const std::string bare = text.substr(0, text.find('='));
        EXPECT_EQ(VDUtils::base64DecodeData(bare, false), bytes) << bare;
        std::string lines;
        for (std::size_t i = 0; i < bare.size(); i += 16)
            lines += bare.substr(i, 16) + "\r\n";
        EXPECT_EQ(VDUtils::base64DecodeData(lines, false), bytes) << lines;
        std::string urlSafe = bare;
        for (auto& c : urlSafe)
            c = c == '+' ? '-' : c == '/' ? '_' : c;
        EXPECT_EQ(VDUtils::base64DecodeData(urlSafe, true), bytes) << urlSafe;
        bytes.push_back(static_cast<std::uint8_t>(length * 37 + 250));
    }
}

// ---------------------------------------------------------------------------------------------
// Small byte helpers

TEST(VDUtilsBytes, Uint16IsBigEndianAndOnlyFromTwoBytes)
{
    EXPECT_EQ(VDUtils::uint16FromBytes(Bytes{0x01, 0x02}), 258);
    EXPECT_EQ(VDUtils::uint16FromBytes(Bytes{0xFF, 0xFE}), 65534);
    EXPECT_EQ(VDUtils::uint16FromBytes(Bytes{0x00, 0x00}), 0);
    EXPECT_EQ(VDUtils::uint16FromBytes(Bytes{}), 65535);
    EXPECT_EQ(VDUtils::uint16FromBytes(Bytes{0x01}), 65535);
    EXPECT_EQ(VDUtils::uint16FromBytes(Bytes{0x01, 0x02, 0x03}), 65535);
}

TEST(VDUtilsBytes, ReverseCopiesInOppositeOrder)
{
    EXPECT_EQ(VDUtils::dataWithReverse(Bytes{}), Bytes{});
    EXPECT_EQ(VDUtils::dataWithReverse(Bytes{7}), Bytes{7});
    EXPECT_EQ(VDUtils::dataWithReverse(Bytes{1, 2, 3}), (Bytes{3, 2, 1}));
    EXPECT_EQ(VDUtils::dataWithReverse(Bytes{1, 2, 3, 4}), (Bytes{4, 3, 2, 1}));
}

// ---------------------------------------------------------------------------------------------
// IP addresses

TEST(QNIPAddress, AcceptsWhatTheSystemParses)
{
    EXPECT_TRUE(QNIPAddress::isValidIPv4Address("127.0.0.1"));
    EXPECT_TRUE(QNIPAddress::isValidIPv4Address("255.255.255.255"));
    EXPECT_TRUE(QNIPAddress::isValidIPv6Address("::1"));
    EXPECT_TRUE(QNIPAddress::isValidIPv6Address("FE80::1"));
    EXPECT_TRUE(QNIPAddress::isValidIPv6Address("::ffff:1.2.3.4"));
    EXPECT_TRUE(QNIPAddress::isValidIPv6Address("2001:0db8:0000:0000:0000:ff00:0042:8329"));
    EXPECT_TRUE(QNIPAddress::isValidIPv6Address("ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255")); // the longest form
    EXPECT_TRUE(QNIPAddress::isValidIPAddress("10.0.0.1"));
    EXPECT_TRUE(QNIPAddress::isValidIPAddress("::"));
}

TEST(QNIPAddress, RejectsEverythingElse)
{
    for (const std::string_view text : {""sv, "256.1.1.1"sv, "1.2.3"sv, " 1.2.3.4"sv, "1.2.3.4 "sv, "example.com"sv, "fe80::1%eth0"sv,
                                        "[::1]"sv, "1:2:3:4:5:6:7:8:9"sv, "1.2.3.4\0"sv, "::1\0junk"sv}) {
        EXPECT_FALSE(QNIPAddress::isValidIPAddress(text)) << text;
    }
    EXPECT_FALSE(QNIPAddress::isValidIPv4Address("::1"));
    EXPECT_FALSE(QNIPAddress::isValidIPv6Address("1.2.3.4"));
    EXPECT_FALSE(QNIPAddress::isValidIPv6Address(std::string(200, ':')));
}

TEST(QNIPAddress, JudgesOnlyTheCharactersOfTheView)
{
    // Nothing after the view may leak into the check, even where the memory goes on.
    const std::string text = "::1x 1.2.3.45";
    EXPECT_TRUE(QNIPAddress::isValidIPv6Address(std::string_view(text).substr(0, 3)));
    EXPECT_FALSE(QNIPAddress::isValidIPv6Address(std::string_view(text).substr(0, 4)));
    EXPECT_TRUE(QNIPAddress::isValidIPv4Address(std::string_view(text).substr(5, 7)));
}

TEST(VDUtilsIP, TestsFollowTheAddressFamilies)
{
    EXPECT_TRUE(VDUtils::isIPv4("192.168.1.1"));
    EXPECT_FALSE(VDUtils::isIPv6("192.168.1.1"));
    EXPECT_TRUE(VDUtils::isIPv6("::1"));
    EXPECT_FALSE(VDUtils::isIPv4("::1"));
    EXPECT_TRUE(VDUtils::isIP("192.168.1.1"));
    EXPECT_TRUE(VDUtils::isIP("::1"));
    EXPECT_FALSE(VDUtils::isIP("localhost"));
}

TEST(VDUtilsIP, OnlyIPv6IsBracketedAndLowered)
{
    EXPECT_EQ(VDUtils::ipFormat("::1"), "[::1]");
    EXPECT_EQ(VDUtils::ipFormat("FE80::1"), "[fe80::1]");
    EXPECT_EQ(VDUtils::ipFormat("::FFFF:10.0.0.1"), "[::ffff:10.0.0.1]");
    EXPECT_EQ(VDUtils::ipFormat("10.0.0.1"), "10.0.0.1");
    EXPECT_EQ(VDUtils::ipFormat("Api.Example.COM"), "Api.Example.COM");
    EXPECT_EQ(VDUtils::ipFormat("[::1]"), "[::1]");
    EXPECT_EQ(VDUtils::ipFormat(""), "");
}

// ---------------------------------------------------------------------------------------------
// Random values

TEST(VDUtilsRandom, EmptyAndSingleRanges)
{
    EXPECT_EQ(VDUtils::randomIn(42, 0), 42u);
    EXPECT_EQ(VDUtils::randomIn(std::numeric_limits<std::uint64_t>::max(), 0), std::numeric_limits<std::uint64_t>::max());
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(VDUtils::randomIn(7, 1), 7u);
}

TEST(VDUtilsRandom, DrawsCoverTheRangeAndStayInside)
{
    std::set<std::uint64_t> seen;
    for (int i = 0; i < 2000; ++i) {
        const auto value = VDUtils::randomIn(10, 3);
        ASSERT_GE(value, 10u);
        ASSERT_LT(value, 13u);
        seen.insert(value);
    }
    EXPECT_EQ(seen.size(), 3u);

    const std::uint64_t top = std::numeric_limits<std::uint64_t>::max() - 4;
    for (int i = 0; i < 200; ++i)
        ASSERT_GE(VDUtils::randomIn(top, 5), top);
}

TEST(VDUtilsRandom, StringsUseTheWholeAlphabetAndNothingElse)
{
    constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    EXPECT_EQ(VDUtils::randomStringWithLength(0), "");
    EXPECT_EQ(VDUtils::randomStringWithLength(-5), "");
    EXPECT_EQ(VDUtils::randomStringWithLength(6).size(), 6u);

    const std::string many = VDUtils::randomStringWithLength(8000);
    ASSERT_EQ(many.size(), 8000u);
    std::set<char> seen;
    for (const char c : many) {
        ASSERT_NE(kAlphabet.find(c), std::string_view::npos) << static_cast<int>(c);
        seen.insert(c);
    }
    // Each character is missed by 8000 draws with a chance of about 1e-56.
    EXPECT_EQ(seen.size(), kAlphabet.size());
}

// ---------------------------------------------------------------------------------------------
// Working folder

TEST(VDUtilsTmpFolder, IsCreatedInTheCachesFolder)
{
    test::TempDir temp;
    ScopedEnv cache("XDG_CACHE_HOME", (temp / "cache").string());
    const auto expected = temp / "cache" / "VantorDashboard";

    const auto first = VDUtils::getAndCreateTmpFolder();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first, expected);
    EXPECT_TRUE(std::filesystem::is_directory(expected));

    // A second call finds the folder and leaves what it holds alone.
    std::ofstream(expected / "kept") << "x";
    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), expected);
    EXPECT_TRUE(std::filesystem::exists(expected / "kept"));
}

TEST(VDUtilsTmpFolder, FallsBackToTheHomeCache)
{
    test::TempDir temp;
    ScopedEnv cache("XDG_CACHE_HOME", std::nullopt);
    ScopedEnv home("HOME", temp.path().string());
    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), temp / ".cache" / "VantorDashboard");
    EXPECT_TRUE(std::filesystem::is_directory(temp / ".cache" / "VantorDashboard"));
}

TEST(VDUtilsTmpFolder, NoneWhenAFileSitsWhereTheFolderBelongs)
{
    test::TempDir temp;
    ScopedEnv cache("XDG_CACHE_HOME", temp.path().string());
    std::ofstream(temp / "VantorDashboard") << "not a folder";

    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), std::nullopt);
    EXPECT_TRUE(std::filesystem::is_regular_file(temp / "VantorDashboard"));
}

TEST(VDUtilsTmpFolder, NoneWhenTheFolderCannotBeMade)
{
    test::TempDir temp;
    std::ofstream(temp / "file") << "x";
    ScopedEnv cache("XDG_CACHE_HOME", (temp / "file" / "cache").string());
    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), std::nullopt);
}

// ---------------------------------------------------------------------------------------------
// Main thread

TEST(VDUtilsMainThread, RunsAtOnceOnTheMainThreadAndLaterFromOthers)
{
    MainLoop loop;
    bool ranHere = false;
    VDUtils::runBlockInMainThread([&] { ranHere = true; });
    EXPECT_TRUE(ranHere);

    bool ranPosted = false;
    std::thread([&] { VDUtils::runBlockInMainThread([&] { ranPosted = true; }); }).join();
    EXPECT_FALSE(ranPosted);
    loop.drain();
    EXPECT_TRUE(ranPosted);
}

// ---------------------------------------------------------------------------------------------
// Images

const QRgb kRed = qRgb(255, 0, 0);
const QRgb kBlue = qRgb(0, 0, 255);

// Left half red, right half blue.
QImage halves(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, x < width / 2 ? kRed : kBlue);
    }
    return image;
}

TEST(VDUtilsImage, ResizeOfANullImageLogsAndGivesNone)
{
    log::Capture capture;
    EXPECT_FALSE(VDUtils::imageResize(QImage(), QSizeF(16, 16)).has_value());
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"Invalid Image"});
}

TEST(VDUtilsImage, ResizeStretchesTheWholeImage)
{
    const auto small = VDUtils::imageResize(halves(40, 20), QSizeF(4, 8));
    ASSERT_TRUE(small.has_value());
    EXPECT_EQ(small->size(), QSize(4, 8));
    EXPECT_EQ(small->pixel(0, 0), kRed);
    EXPECT_EQ(small->pixel(0, 7), kRed);
    EXPECT_EQ(small->pixel(3, 0), kBlue);
    EXPECT_EQ(small->pixel(3, 7), kBlue);

    const auto large = VDUtils::imageResize(halves(4, 2), QSizeF(64, 64));
    ASSERT_TRUE(large.has_value());
    EXPECT_EQ(large->size(), QSize(64, 64));
    EXPECT_EQ(large->pixel(1, 1), kRed);
    EXPECT_EQ(large->pixel(62, 62), kBlue);
}

TEST(VDUtilsImage, ResizeKeepsTranslucency)
{
    QImage glass(8, 8, QImage::Format_ARGB32);
    glass.fill(QColor(0, 128, 0, 100));
    const auto out = VDUtils::imageResize(glass, QSizeF(3, 3));
    ASSERT_TRUE(out.has_value());
    const QColor centre = out->pixelColor(1, 1);
    EXPECT_NEAR(centre.alpha(), 100, 1);
    EXPECT_NEAR(centre.green(), 128, 2);
    EXPECT_EQ(centre.red(), 0);
}

TEST(VDUtilsImage, ResizeToNothingGivesNone)
{
    EXPECT_FALSE(VDUtils::imageResize(halves(4, 4), QSizeF(0, 10)).has_value());
}

TEST(VDUtilsImage, RotationSizeIsTheBoundingBox)
{
    const QImage source = halves(100, 50);
    EXPECT_EQ(VDUtils::roateSourceImage(source, 0).size(), QSize(100, 50));
    EXPECT_EQ(VDUtils::roateSourceImage(source, 90).size(), QSize(50, 100));
    EXPECT_EQ(VDUtils::roateSourceImage(source, 180).size(), QSize(100, 50));
    EXPECT_EQ(VDUtils::roateSourceImage(source, -90).size(), QSize(50, 100));
    // (100 + 50) / sqrt(2) = 106.07 each way, whole pixels rounded up.
    EXPECT_EQ(VDUtils::roateSourceImage(source, 45).size(), QSize(107, 107));
    EXPECT_TRUE(VDUtils::roateSourceImage(QImage(), 45).isNull());
}

TEST(VDUtilsImage, PositiveAnglesTurnCounterClockwiseAboutTheCentre)
{
    const QImage turned = VDUtils::roateSourceImage(halves(100, 50), 90);
    ASSERT_EQ(turned.size(), QSize(50, 100));
    // The red left half ends up at the bottom.
    EXPECT_EQ(turned.pixel(25, 75), kRed);
    EXPECT_EQ(turned.pixel(25, 25), kBlue);

    const QImage upsideDown = VDUtils::roateSourceImage(halves(100, 50), 180);
    EXPECT_EQ(upsideDown.pixel(75, 25), kRed);
    EXPECT_EQ(upsideDown.pixel(25, 25), kBlue);

    // Turned by 45 degrees the corners of the new image stay empty, the centre is covered.
    const QImage tilted = VDUtils::roateSourceImage(halves(100, 50), 45);
    EXPECT_EQ(qAlpha(tilted.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(tilted.pixel(106, 106)), 0);
    EXPECT_EQ(qAlpha(tilted.pixel(53, 53)), 255);
}

} // namespace
} // namespace vd
