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
#include "support/BytesOf.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace vd {
namespace {

using namespace std::string_view_literals;
using Texts = std::pair<std::string, std::string>;
using test::bytesOf;
using test::ScopedEnv;

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

TEST(VDUtilsStartTime, FormatsInUtcCuttingSecondsTowardsThePast)
{
    ScopedTimeZone utc("UTC");
    const std::tuple<double, const char*, const char*> cases[] = {
        {0, "00:00", "1970-01-01 00:00"},
        {1700000000.0, "22:13", "2023-11-14 22:13"},
        {1700000000.75, "22:13", "2023-11-14 22:13"},
        {59.9, "00:00", "1970-01-01 00:00"},
        {60.0, "00:01", "1970-01-01 00:01"},
        {-0.5, "23:59", "1969-12-31 23:59"},
        // Dates no clock can show give empty texts.
        {std::nan(""), "", ""},
        {std::numeric_limits<double>::infinity(), "", ""},
        {1e300, "", ""},
    };
    for (const auto& [seconds, time, dated] : cases) {
        EXPECT_EQ(VDUtils::formatTunnelStartTime(seconds), time) << seconds;
        EXPECT_EQ(VDUtils::formatTunnelStartTimeWithData(seconds), dated) << seconds;
    }
}

TEST(VDUtilsStartTime, UsesTheLocalZone)
{
    ScopedTimeZone plusTwo("XYZ-02"); // POSIX sign: two hours east of UTC
    EXPECT_EQ(VDUtils::formatTunnelStartTime(0), "02:00");
    EXPECT_EQ(VDUtils::formatTunnelStartTimeWithData(23 * 3600), "1970-01-02 01:00");
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
    EXPECT_EQ(VDUtils::dataFromHexString(dump), countingBytes(256));
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

// ---------------------------------------------------------------------------------------------
// Base64

TEST(VDUtilsBase64, PaddingIsAddedForeignCharactersSkippedAndTextThatCannotMakeBytesRefused)
{
    const std::pair<std::string_view, std::optional<std::string_view>> cases[] = {
        {"QUJD", "ABC"}, {"QUI", "AB"}, {"QUI=", "AB"}, {"QQ", "A"}, {"QUJDRA", "ABCD"}, {"", ""},
        {"QU\nJD", "ABC"}, {"Q U J D", "ABC"}, {"QUJD\r\nQUJD\r\n", "ABCABC"}, {"QU*I", "AB"}, {"QUI=\n", "AB"},
        {"\xC3\xA9QUJD", "ABC"}, {"!!!!", ""},
        {"Q", std::nullopt}, {"QUJDR", std::nullopt}, {"QU\nJDR", std::nullopt},
        // Data after the end mark: two texts ran together.
        {"QQ==QUJD", std::nullopt}, {"QUJD=QUJD", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        const auto bytes = VDUtils::base64DecodeData(text, false);
        EXPECT_EQ(bytes, expected ? std::optional<Bytes>(bytesOf(*expected)) : std::nullopt) << text;
    }
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

TEST(VDUtilsBytes, Uint16IsBigEndianAndOnlyFromTwoBytesAndReverseCopiesBackwards)
{
    EXPECT_EQ(VDUtils::uint16FromBytes(Bytes{0x01, 0x02}), 258);
    EXPECT_EQ(VDUtils::uint16FromBytes(Bytes{0xFF, 0xFE}), 65534);
    EXPECT_EQ(VDUtils::uint16FromBytes(Bytes{0x00, 0x00}), 0);
    for (const Bytes& wrongLength : {Bytes{}, Bytes{0x01}, Bytes{0x01, 0x02, 0x03}})
        EXPECT_EQ(VDUtils::uint16FromBytes(wrongLength), 65535);
    EXPECT_EQ(VDUtils::dataWithReverse(Bytes{}), Bytes{});
    EXPECT_EQ(VDUtils::dataWithReverse(Bytes{1, 2, 3, 4}), (Bytes{4, 3, 2, 1}));
}

// ---------------------------------------------------------------------------------------------
// IP addresses

TEST(QNIPAddress, AcceptsWhatTheSystemParses)
{
    for (const std::string_view v4 : {"127.0.0.1"sv, "255.255.255.255"sv, "10.0.0.1"sv})
        EXPECT_TRUE(QNIPAddress::isValidIPv4Address(v4) && QNIPAddress::isValidIPAddress(v4)) << v4;
    for (const std::string_view v6 : {"::1"sv, "::"sv, "FE80::1"sv, "::ffff:1.2.3.4"sv, "2001:0db8:0000:0000:0000:ff00:0042:8329"sv,
                                      "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255"sv /* the longest form */})
        EXPECT_TRUE(QNIPAddress::isValidIPv6Address(v6) && QNIPAddress::isValidIPAddress(v6)) << v6;
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
    EXPECT_TRUE(VDUtils::isIPv4("192.168.1.1") && VDUtils::isIP("192.168.1.1") && !VDUtils::isIPv6("192.168.1.1"));
    EXPECT_TRUE(VDUtils::isIPv6("::1") && VDUtils::isIP("::1") && !VDUtils::isIPv4("::1"));
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

TEST(VDUtilsRandom, DrawsCoverTheRangeAndStayInsideEvenAtTheTop)
{
    EXPECT_EQ(VDUtils::randomIn(42, 0), 42u);
    EXPECT_EQ(VDUtils::randomIn(7, 1), 7u);
    std::set<std::uint64_t> seen;
    for (int i = 0; i < 2000; ++i) {
        const auto value = VDUtils::randomIn(10, 3);
        ASSERT_TRUE(value >= 10u && value < 13u) << value;
        seen.insert(value);
    }
    EXPECT_EQ(seen.size(), 3u);

    const std::uint64_t top = std::numeric_limits<std::uint64_t>::max() - 4;
    EXPECT_EQ(VDUtils::randomIn(top + 4, 0), top + 4);
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

TEST(VDUtilsTmpFolder, IsCreatedInTheCachesFolderOrTheHomeCache)
{
    test::TempDir temp;
    ScopedEnv home("HOME", temp.path().string());
    ScopedEnv cache("XDG_CACHE_HOME", (temp / "cache").string());
    const auto expected = temp / "cache" / "VantorDashboard";
    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), expected);
    EXPECT_TRUE(std::filesystem::is_directory(expected));
    // A second call finds the folder and leaves what it holds alone.
    std::ofstream(expected / "kept") << "x";
    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), expected);
    EXPECT_TRUE(std::filesystem::exists(expected / "kept"));

    cache.apply(std::nullopt);
    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), temp / ".cache" / "VantorDashboard");
    EXPECT_TRUE(std::filesystem::is_directory(temp / ".cache" / "VantorDashboard"));
}

TEST(VDUtilsTmpFolder, NoneWhenAFileSitsWhereTheFolderOrItsParentBelongs)
{
    test::TempDir temp;
    std::ofstream(temp / "VantorDashboard") << "not a folder";
    ScopedEnv cache("XDG_CACHE_HOME", temp.path().string());
    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), std::nullopt);
    EXPECT_TRUE(std::filesystem::is_regular_file(temp / "VantorDashboard"));

    cache.apply((temp / "VantorDashboard" / "cache").string());
    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), std::nullopt);
}

// ---------------------------------------------------------------------------------------------
// Main thread

TEST(VDUtilsMainThread, ForwardsToTheMainQueue)
{
    MainLoop loop;
    bool ran = false;
    std::thread([&] { VDUtils::runBlockInMainThread([&] { ran = true; }); }).join();
    loop.drain();
    EXPECT_TRUE(ran);
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

TEST(VDUtilsImage, ResizeStretchesTheWholeImageKeepingTranslucency)
{
    const auto small = VDUtils::imageResize(halves(40, 20), QSizeF(4, 8));
    ASSERT_TRUE(small.has_value());
    EXPECT_EQ(small->size(), QSize(4, 8));
    EXPECT_EQ(small->pixel(0, 7), kRed);
    EXPECT_EQ(small->pixel(3, 0), kBlue);
    const auto large = VDUtils::imageResize(halves(4, 2), QSizeF(64, 64));
    ASSERT_TRUE(large.has_value());
    EXPECT_EQ(large->pixel(1, 1), kRed);
    EXPECT_EQ(large->pixel(62, 62), kBlue);

    QImage glass(8, 8, QImage::Format_ARGB32);
    glass.fill(QColor(0, 128, 0, 100));
    const QColor centre = VDUtils::imageResize(glass, QSizeF(3, 3)).value_or(QImage()).pixelColor(1, 1);
    EXPECT_NEAR(centre.alpha(), 100, 1);
    EXPECT_NEAR(centre.green(), 128, 2);
    EXPECT_EQ(centre.red(), 0);
}

TEST(VDUtilsImage, ResizeOfANullImageLogsAndToNothingGivesNone)
{
    log::Capture capture;
    EXPECT_FALSE(VDUtils::imageResize(QImage(), QSizeF(16, 16)).has_value());
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"Invalid Image"});
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
