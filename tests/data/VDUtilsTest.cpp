#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <span>
#include <thread>

#include <QColor>
#include <QImage>
#include <gtest/gtest.h>

#include "data/QNIPAddress.h"
#include "data/VDUtils.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"
#include "support/BytesOf.h"
#include "support/DataSuiteFiles.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace vd {
namespace {

namespace fs = std::filesystem;
using namespace std::string_view_literals;
using test::bytesOf;
using test::ScopedEnv;
constexpr double kInf = std::numeric_limits<double>::infinity();

// The texts of ordinary values are pinned once, by the locale suite's table; this is what a
// buffer sized for ordinary durations would cut.
TEST(VDUtilsFormatting, OddDurationsStillGiveWholeTexts)
{
    const std::string huge = VDUtils::formatDuration(1e300);
    EXPECT_EQ(huge.size(), 297u + 5u);
    EXPECT_EQ(huge.substr(0, 5) + huge.substr(huge.size() - 5), "27777.00 h");
    EXPECT_EQ(VDUtils::formatDuration(kInf) + VDUtils::formatDuration(-kInf), "inf h-inf ms");
}

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

TEST(VDUtilsStartTime, FormatsInTheLocalZoneCuttingSecondsTowardsThePast)
{
    ScopedTimeZone utc("UTC");
    // Dates no clock can show give empty texts.
    const std::tuple<double, const char*, const char*> cases[] = {
        {0, "00:00", "1970-01-01 00:00"}, {1700000000.75, "22:13", "2023-11-14 22:13"}, {59.9, "00:00", "1970-01-01 00:00"},
        {-0.5, "23:59", "1969-12-31 23:59"}, {std::nan(""), "", ""}, {kInf, "", ""}, {1e300, "", ""}};
    for (const auto& [seconds, time, dated] : cases) {
        EXPECT_EQ(VDUtils::formatTunnelStartTime(seconds), time) << seconds;
        EXPECT_EQ(VDUtils::formatTunnelStartTimeWithData(seconds), dated) << seconds;
    }
    ScopedTimeZone plusTwo("XYZ-02"); // POSIX sign: two hours east of UTC
    EXPECT_EQ(VDUtils::formatTunnelStartTimeWithData(23 * 3600), "1970-01-02 01:00");
}

Bytes countingBytes(std::size_t count)
{
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}

TEST(VDUtilsHexDump, LinesOfSixteenWithAGapAfterEightInUpperCase)
{
    const std::pair<std::size_t, const char*> cases[] = {
        {0, " "}, {7, " 00 01 02 03 04 05 06 "}, {8, " 00 01 02 03 04 05 06 07  "},
        {16, " 00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F  \n "},
        {17, " 00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F  \n 10 "}};
    for (const auto& [count, dump] : cases)
        EXPECT_EQ(VDUtils::hexStringOfData(countingBytes(count)), dump) << count;
    const std::string all = VDUtils::hexStringOfData(countingBytes(256));
    ASSERT_EQ(all.size(), 1u + 16 * 52);
    EXPECT_EQ(all.substr(all.size() - 53), " F0 F1 F2 F3 F4 F5 F6 F7  F8 F9 FA FB FC FD FE FF  \n ");
}

TEST(VDUtilsHexDump, LargeBodiesReadBackExactly)
{
    // Several megabytes take the whole-line writer and the large-page path; the odd length
    // leaves a partial line after them.
    const Bytes body = test::patterned((std::size_t{3} << 19) + 9, 0x12345678);
    const std::string dump = VDUtils::hexStringOfData(body);
    ASSERT_EQ(dump.size(), 1 + (body.size() / 16) * 52 + 9 * 3 + 1);
    const std::span<const std::uint8_t> bytes(body);
    EXPECT_EQ(dump.substr(0, 53), VDUtils::hexStringOfData(bytes.first(16)));
    EXPECT_EQ(dump.substr(dump.size() - 29), VDUtils::hexStringOfData(bytes.last(9)));
    EXPECT_EQ(VDUtils::dataFromHexString(dump), body);
}

// Separators are skipped and case ignored; pairs are read where they start, so a digit followed
// by a separator counts on its own and one in the last place, without a partner, is dropped.
TEST(VDUtilsBytes, HexPairsAreReadWhereTheyStartAndUint16IsBigEndianFromTwoBytesOnly)
{
    const std::pair<std::string_view, Bytes> cases[] = {
        {"0A 1b\nFF", {0x0A, 0x1B, 0xFF}}, {"xx00, 7f;", {0x00, 0x7F}}, {"a b", {0x0A}}, {"0g", {0x00}},
        {"a\nbc", {0x0A, 0xBC}}, {"abc", {0xAB}}, {" a", {}}, {"", {}}, {"xyz", {}}, {"a\0b"sv, {0x0A}}};
    for (const auto& [text, bytes] : cases)
        EXPECT_EQ(VDUtils::dataFromHexString(text), bytes) << text;
    EXPECT_EQ(VDUtils::uint16FromBytes(Bytes{0x01, 0x02}), 258);
    EXPECT_EQ(VDUtils::uint16FromBytes(Bytes{0xFF, 0xFE}), 65534);
    for (const Bytes& wrongLength : {Bytes{}, Bytes{0x01}, Bytes{0x01, 0x02, 0x03}})
        EXPECT_EQ(VDUtils::uint16FromBytes(wrongLength), 65535);
    EXPECT_EQ(VDUtils::dataWithReverse(Bytes{}), Bytes{});
    EXPECT_EQ(VDUtils::dataWithReverse(Bytes{1, 2, 3, 4}), (Bytes{4, 3, 2, 1}));
}

TEST(VDUtilsBase64, PaddingIsAddedForeignCharactersSkippedAndTextThatCannotMakeBytesRefused)
{
    const std::tuple<std::string_view, bool, std::optional<Bytes>> cases[] = {
        {"QUJD", false, bytesOf("ABC")}, {"QUI", false, bytesOf("AB")}, {"QQ", false, bytesOf("A")}, {"", false, Bytes{}},
        {"Q U J D", false, bytesOf("ABC")}, {"QU*I", false, bytesOf("AB")}, {"QUI=\n", false, bytesOf("AB")},
        {"\xC3\xA9QUJD", false, bytesOf("ABC")}, {"!!!!", false, Bytes{}}, {"Q", false, std::nullopt},
        {"QU\nJDR", false, std::nullopt},
        // Data after the end mark: two texts ran together.
        {"QQ==QUJD", false, std::nullopt}, {"QUJD=QUJD", false, std::nullopt},
        // "-" and "_" count only in url-safe text, where the standard characters count too.
        {"-_-_", true, Bytes{0xFB, 0xFF, 0xBF}}, {"+/8", true, Bytes{0xFB, 0xFF}}, {"-_8", false, std::nullopt},
        {"-_-_QUJD", false, bytesOf("ABC")},
    };
    for (const auto& [text, urlSafe, bytes] : cases)
        EXPECT_EQ(VDUtils::base64DecodeData(text, urlSafe), bytes) << text << " url-safe " << urlSafe;
}

TEST(QNIPAddress, AcceptsWhatTheSystemParsesAndNothingElse)
{
    const std::tuple<std::string_view, bool, bool> cases[] = {
        {"127.0.0.1", true, false}, {"::1", false, true}, {"::ffff:1.2.3.4", false, true},
        {"ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255", false, true}, // the longest form
        {"", false, false}, {"256.1.1.1", false, false}, {" 1.2.3.4", false, false}, {"example.com", false, false},
        {"fe80::1%eth0", false, false}, {"[::1]", false, false}, {"1.2.3.4\0"sv, false, false}, {"::1\0junk"sv, false, false}};
    for (const auto& [text, v4, v6] : cases) {
        EXPECT_EQ(QNIPAddress::isValidIPv4Address(text), v4) << text;
        EXPECT_EQ(QNIPAddress::isValidIPv6Address(text), v6) << text;
        EXPECT_EQ(QNIPAddress::isValidIPAddress(text), v4 || v6) << text;
        EXPECT_EQ(std::tuple(VDUtils::isIPv4(text), VDUtils::isIPv6(text), VDUtils::isIP(text)), std::tuple(v4, v6, v4 || v6)) << text;
    }
    EXPECT_FALSE(QNIPAddress::isValidIPv6Address(std::string(200, ':')));
    // Nothing after the view may leak into the check, even where the memory goes on.
    const std::string_view text = "::1x 1.2.3.45";
    EXPECT_TRUE(QNIPAddress::isValidIPv6Address(text.substr(0, 3)));
    EXPECT_FALSE(QNIPAddress::isValidIPv6Address(text.substr(0, 4)));
    EXPECT_TRUE(QNIPAddress::isValidIPv4Address(text.substr(5, 7)));
    // Only IPv6 is bracketed and lowered.
    for (const auto& [plain, formatted] : {std::pair{"FE80::1", "[fe80::1]"}, {"::FFFF:10.0.0.1", "[::ffff:10.0.0.1]"},
                                           {"10.0.0.1", "10.0.0.1"}, {"Api.Example.COM", "Api.Example.COM"}, {"[::1]", "[::1]"}})
        EXPECT_EQ(VDUtils::ipFormat(plain), formatted) << plain;
}

TEST(VDUtilsRandom, DrawsCoverTheRangeAndStayInsideEvenAtTheTopAndStringsUseTheWholeAlphabet)
{
    std::set<std::uint64_t> seen{VDUtils::randomIn(42, 0)}, top;
    for (int i = 0; i < 2000; ++i) {
        seen.insert(VDUtils::randomIn(10, 3));
        top.insert(VDUtils::randomIn(std::numeric_limits<std::uint64_t>::max() - 1, 2));
    }
    EXPECT_EQ(seen, (std::set<std::uint64_t>{10, 11, 12, 42}));
    EXPECT_EQ(top, (std::set<std::uint64_t>{std::numeric_limits<std::uint64_t>::max() - 1, std::numeric_limits<std::uint64_t>::max()}));
    EXPECT_EQ(VDUtils::randomStringWithLength(-5), "");
    const std::string many = VDUtils::randomStringWithLength(8000);
    ASSERT_EQ(many.size(), 8000u);
    // Each character is missed by 8000 draws with a chance of about 1e-56.
    constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    EXPECT_EQ(std::set<char>(many.begin(), many.end()), std::set<char>(kAlphabet.begin(), kAlphabet.end()));
}

TEST(VDUtilsTmpFolder, MadeInTheCachesFolderOrTheHomeCacheAndNoneWhereAFileSitsInTheWay)
{
    test::TempDir temp;
    ScopedEnv home("HOME", temp.path().string());
    ScopedEnv cache("XDG_CACHE_HOME", (temp / "cache").string());
    const auto expected = temp / "cache" / "VantorDashboard";
    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), expected);
    // A second call finds the folder and leaves what it holds alone.
    std::ofstream(expected / "kept") << "x";
    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), expected);
    EXPECT_TRUE(fs::exists(expected / "kept"));
    cache.apply(std::nullopt);
    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), temp / ".cache" / "VantorDashboard");

    cache.apply((expected / "kept").string()); // a file where the folder's parent belongs
    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), std::nullopt);
    cache.apply(expected.parent_path().string());
    fs::remove_all(expected);
    std::ofstream(expected) << "not a folder";
    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), std::nullopt);
    EXPECT_TRUE(fs::is_regular_file(expected));
}

TEST(VDUtilsMainThread, ForwardsToTheMainQueue)
{
    MainLoop loop;
    bool ran = false;
    std::thread([&] { VDUtils::runBlockInMainThread([&] { ran = true; }); }).join();
    loop.drain();
    EXPECT_TRUE(ran);
}

const QRgb kRed = qRgb(255, 0, 0);
const QRgb kBlue = qRgb(0, 0, 255);

// Left half red, right half blue.
QImage halves(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(kBlue);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width / 2; ++x)
            image.setPixel(x, y, kRed);
    }
    return image;
}

// Resizing stretches the whole picture and keeps its translucency; a null image or nothing to
// draw gives none. A turn is counter-clockwise about the centre, inside the bounding box.
TEST(VDUtilsImage, ResizeStretchesAndRotationTurnsCounterClockwiseInsideTheBoundingBox)
{
    const auto small = VDUtils::imageResize(halves(40, 20), QSizeF(4, 8)).value_or(QImage());
    EXPECT_EQ(std::tuple(small.size(), small.pixel(0, 7), small.pixel(3, 0)), std::tuple(QSize(4, 8), kRed, kBlue));
    QImage glass(8, 8, QImage::Format_ARGB32);
    glass.fill(QColor(0, 128, 0, 100));
    const QColor centre = VDUtils::imageResize(glass, QSizeF(3, 3)).value_or(QImage()).pixelColor(1, 1);
    EXPECT_NEAR(centre.alpha(), 100, 1);
    EXPECT_NEAR(centre.green(), 128, 2);
    log::Capture capture;
    EXPECT_FALSE(VDUtils::imageResize(QImage(), QSizeF(16, 16)).has_value());
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"Invalid Image"});
    EXPECT_FALSE(VDUtils::imageResize(halves(4, 4), QSizeF(0, 10)).has_value());

    EXPECT_TRUE(VDUtils::roateSourceImage(QImage(), 45).isNull());
    // The red left half ends up at the bottom.
    const QImage turned = VDUtils::roateSourceImage(halves(100, 50), 90);
    EXPECT_EQ(std::tuple(turned.size(), turned.pixel(25, 75), turned.pixel(25, 25)), std::tuple(QSize(50, 100), kRed, kBlue));
    // (100 + 50) / sqrt(2) = 106.07 each way, whole pixels rounded up; the new corners stay empty.
    const QImage tilted = VDUtils::roateSourceImage(halves(100, 50), 45);
    ASSERT_EQ(tilted.size(), QSize(107, 107));
    EXPECT_EQ(std::tuple(qAlpha(tilted.pixel(0, 0)), qAlpha(tilted.pixel(106, 106)), qAlpha(tilted.pixel(53, 53))), std::tuple(0, 0, 255));
}

} // namespace
} // namespace vd
