#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <span>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include "data/QNIPAddress.h"
#include "data/VDUtils.h"
#include "platform/Log.h"
#include "support/BytesOf.h"
#include "support/DataSuite.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

// One check for each risky behaviour of each function; the texts of ordinary sizes, speeds,
// durations and times to live are pinned once, by the locale suite's table.
namespace vd {
namespace {

namespace fs = std::filesystem;
using namespace std::string_view_literals;
using test::bytesOf;
using test::ScopedEnv;
using test::Texts;
using test::textsOf;
constexpr double kInf = std::numeric_limits<double>::infinity();

// What a buffer sized for ordinary durations would cut.
TEST(VDUtilsFormatting, OddDurationsStillGiveWholeTexts)
{
    const std::string huge = VDUtils::formatDuration(1e300);
    EXPECT_EQ(std::pair(huge.size(), huge.substr(0, 5) + huge.substr(huge.size() - 5)), std::pair(std::size_t{302}, std::string("27777.00 h")));
    EXPECT_EQ(VDUtils::formatDuration(kInf) + VDUtils::formatDuration(-kInf), "inf h-inf ms");
}

// Dates no clock can show give empty texts.
TEST(VDUtilsStartTime, FormatsInTheLocalZoneCuttingSecondsTowardsThePast)
{
    // The C library reads the zone only in tzset(), so switching it takes both steps, both ways:
    // this is destroyed after the variable is restored.
    struct ReadZoneOnExit {
        ~ReadZoneOnExit() { tzset(); }
    } readZoneOnExit;
    ScopedEnv zone("TZ", "XYZ-02"); // POSIX sign: two hours east of UTC
    tzset();
    const std::tuple<double, const char*, const char*> cases[] = {{1700000000.75, "00:13", "2023-11-15 00:13"},
                                                                  {-0.5, "01:59", "1970-01-01 01:59"}, {59.9, "02:00", "1970-01-01 02:00"},
                                                                  {std::nan(""), "", ""}, {kInf, "", ""}, {1e300, "", ""}};
    for (const auto& [seconds, time, dated] : cases)
        EXPECT_EQ(textsOf(VDUtils::formatTunnelStartTime(seconds), VDUtils::formatTunnelStartTimeWithData(seconds)), (Texts{time, dated})) << seconds;
}

// Lines of sixteen with a gap after eight, in upper case; several megabytes take the whole-line
// writer and the large-page path, and read back exactly through the parser.
TEST(VDUtilsHex, DumpsLinesOfSixteenAndLargeBodiesReadBackExactly)
{
    Bytes counting(256);
    for (std::size_t i = 0; i < counting.size(); ++i)
        counting[i] = static_cast<std::uint8_t>(i);
    const std::span<const std::uint8_t> bytes(counting);
    EXPECT_EQ(VDUtils::hexStringOfData(bytes.first(0)) + "|" + VDUtils::hexStringOfData(bytes.first(9)),
              " | 00 01 02 03 04 05 06 07  08 ");
    EXPECT_EQ(VDUtils::hexStringOfData(bytes.first(17)), " 00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F  \n 10 ");
    const std::string all = VDUtils::hexStringOfData(counting);
    EXPECT_EQ(std::pair(all.size(), all.substr(all.size() - 53)),
              std::pair(std::size_t{1 + 16 * 52}, std::string(" F0 F1 F2 F3 F4 F5 F6 F7  F8 F9 FA FB FC FD FE FF  \n ")));
    const Bytes body = test::patterned((std::size_t{3} << 19) + 9, 0x12345678); // a dump of about 5 MB
    const std::string dump = VDUtils::hexStringOfData(body);
    ASSERT_EQ(dump.size(), 1 + (body.size() / 16) * 52 + 9 * 3 + 1);
    EXPECT_EQ(dump.substr(dump.size() - 29), VDUtils::hexStringOfData(std::span(body).last(9)));
    EXPECT_EQ(VDUtils::dataFromHexString(dump), body);
}

// Separators are skipped and case ignored; pairs are read where they start, so a digit followed
// by a separator counts on its own and one in the last place, without a partner, is dropped.
TEST(VDUtilsBytes, HexPairsAreReadWhereTheyStartAndUint16IsBigEndianFromTwoBytesOnly)
{
    const std::pair<std::string_view, Bytes> cases[] = {{"0A 1b\nFF", {0x0A, 0x1B, 0xFF}}, {"xx00, 7f;", {0x00, 0x7F}}, {"a b", {0x0A}},
                                                        {"abc", {0xAB}}, {" a", {}}, {"a\0b"sv, {0x0A}}};
    for (const auto& [text, bytes] : cases)
        EXPECT_EQ(VDUtils::dataFromHexString(text), bytes) << text;
    EXPECT_EQ(std::tuple(VDUtils::uint16FromBytes(Bytes{0xFF, 0xFE}), VDUtils::uint16FromBytes(Bytes{0x01}),
                         VDUtils::uint16FromBytes(Bytes{0x01, 0x02, 0x03})),
              std::tuple(65534, 65535, 65535));
    EXPECT_EQ(VDUtils::dataWithReverse(Bytes{1, 2, 3, 4}), (Bytes{4, 3, 2, 1}));
}

TEST(VDUtilsBase64, PaddingIsAddedForeignCharactersSkippedAndTextThatCannotMakeBytesRefused)
{
    const std::tuple<std::string_view, bool, std::optional<Bytes>> cases[] = {
        {"QUI", false, bytesOf("AB")}, {"QQ", false, bytesOf("A")}, {"Q U\r\nJD", false, bytesOf("ABC")}, {"QU*I=\n", false, bytesOf("AB")},
        {"\xC3\xA9QUJD", false, bytesOf("ABC")}, {"!!!!", false, Bytes{}}, {"Q", false, std::nullopt}, {"QU\nJDR", false, std::nullopt},
        // Data after the end mark: two texts ran together.
        {"QQ==QUJD", false, std::nullopt},
        // "-" and "_" count only in url-safe text, where the standard characters count too.
        {"-_+/", true, Bytes{0xFB, 0xFF, 0xBF}}, {"-_8", false, std::nullopt}, {"-_-_QUJD", false, bytesOf("ABC")}};
    for (const auto& [text, urlSafe, bytes] : cases)
        EXPECT_EQ(VDUtils::base64DecodeData(text, urlSafe), bytes) << text << " url-safe " << urlSafe;
}

TEST(VDUtilsIP, AcceptsWhatTheSystemParsesAndNothingAfterItAndBracketsOnlyIPv6)
{
    const std::tuple<std::string_view, bool, bool> cases[] = {
        {"127.0.0.1", true, false}, {"ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255", false, true}, {"256.1.1.1", false, false},
        {" 1.2.3.4", false, false}, {"fe80::1%eth0", false, false}, {"1.2.3.4\0"sv, false, false}, {"::1\0junk"sv, false, false}};
    for (const auto& [text, v4, v6] : cases) {
        EXPECT_EQ(std::tuple(QNIPAddress::isValidIPv4Address(text), QNIPAddress::isValidIPv6Address(text), QNIPAddress::isValidIPAddress(text)),
                  std::tuple(v4, v6, v4 || v6)) << text;
    }
    EXPECT_FALSE(QNIPAddress::isValidIPv6Address(std::string(200, ':')));
    // Nothing after the view may leak into the check, even where the memory goes on.
    const std::string_view text = "::1x 1.2.3.45";
    EXPECT_EQ(std::tuple(QNIPAddress::isValidIPv6Address(text.substr(0, 3)), QNIPAddress::isValidIPv6Address(text.substr(0, 4)),
                         QNIPAddress::isValidIPv4Address(text.substr(5, 7))),
              std::tuple(true, false, true));
    EXPECT_EQ(textsOf(VDUtils::ipFormat("::FFFF:10.0.0.1"), VDUtils::ipFormat("10.0.0.1"), VDUtils::ipFormat("Api.Example.COM")),
              (Texts{"[::ffff:10.0.0.1]", "10.0.0.1", "Api.Example.COM"}));
}

TEST(VDUtilsRandom, DrawsCoverTheRangeAndStayInsideEvenAtTheTopAndStringsUseTheWholeAlphabet)
{
    constexpr auto kTop = std::numeric_limits<std::uint64_t>::max();
    std::set<std::uint64_t> seen{VDUtils::randomIn(42, 0)};
    for (int i = 0; i < 2000; ++i)
        seen.insert({VDUtils::randomIn(10, 3), VDUtils::randomIn(kTop - 1, 2)});
    EXPECT_EQ(seen, (std::set<std::uint64_t>{10, 11, 12, 42, kTop - 1, kTop}));
    EXPECT_EQ(VDUtils::randomStringWithLength(-5), "");
    // Each character is missed by 8000 draws with a chance of about 1e-56.
    const std::string many = VDUtils::randomStringWithLength(8000);
    constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    EXPECT_EQ(std::pair(many.size(), std::set<char>(many.begin(), many.end())), std::pair(std::size_t{8000}, std::set<char>(kAlphabet.begin(), kAlphabet.end())));
}

// Which caches folder counts is the user paths' case.
TEST(VDUtilsTmpFolder, MadeInTheCachesFolderFoundAgainAndNoneWhereAFileSitsInTheWay)
{
    test::TempDir temp;
    ScopedEnv cache("XDG_CACHE_HOME", (temp / "cache").string());
    const auto expected = temp / "cache" / "VantorDashboard";
    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), expected);
    // A second call finds the folder and leaves what it holds alone.
    std::ofstream(expected / "kept") << "x";
    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), expected);
    EXPECT_TRUE(fs::exists(expected / "kept"));
    cache.apply((expected / "kept").string()); // a file where the folder's parent belongs
    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), std::nullopt);
    cache.apply((expected / "kept").parent_path().parent_path().string());
    fs::remove_all(expected);
    std::ofstream(expected) << "not a folder";
    EXPECT_EQ(VDUtils::getAndCreateTmpFolder(), std::nullopt);
    EXPECT_TRUE(fs::is_regular_file(expected));
}

// Resizing keeps translucency, and a null image or nothing to draw gives none. A turn is
// counter-clockwise about the centre, inside the whole bounding box, whose new corners stay empty.
TEST(VDUtilsImage, ResizeKeepsTranslucencyAndRotationTurnsCounterClockwiseInsideTheBoundingBox)
{
    QImage glass(8, 8, QImage::Format_ARGB32);
    glass.fill(QColor(0, 128, 0, 100));
    const QColor centre = VDUtils::imageResize(glass, QSizeF(3, 3)).value_or(QImage()).pixelColor(1, 1);
    EXPECT_TRUE(std::abs(centre.alpha() - 100) <= 1 && std::abs(centre.green() - 128) <= 2) << centre.name(QColor::HexArgb).toStdString();
    log::Capture capture;
    EXPECT_FALSE(VDUtils::imageResize(QImage(), QSizeF(16, 16)) || VDUtils::imageResize(glass, QSizeF(0, 10)));
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"Invalid Image"});
    EXPECT_TRUE(VDUtils::roateSourceImage(QImage(), 45).isNull());

    QImage halves(100, 50, QImage::Format_ARGB32);
    halves.fill(Qt::blue);
    QPainter(&halves).fillRect(0, 0, 50, 50, Qt::red);
    // The red left half ends up at the bottom.
    const QImage turned = VDUtils::roateSourceImage(halves, 90);
    EXPECT_EQ(std::tuple(turned.size(), turned.pixelColor(25, 75), turned.pixelColor(25, 25)), std::tuple(QSize(50, 100), QColor(Qt::red), QColor(Qt::blue)));
    // (100 + 50) / sqrt(2) = 106.07 each way, whole pixels rounded up.
    const QImage tilted = VDUtils::roateSourceImage(halves, 45);
    EXPECT_EQ(std::tuple(tilted.size(), qAlpha(tilted.pixel(0, 0)), qAlpha(tilted.pixel(106, 106)), qAlpha(tilted.pixel(53, 53))),
              std::tuple(QSize(107, 107), 0, 0, 255));
}

} // namespace
} // namespace vd
