#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Base64.h"
#include "support/BytesOf.h"

namespace vd {
namespace {

using namespace std::string_view_literals;
using test::bytesOf;

// RFC 4648, section 10, plus values that reach both ends of the alphabet.
const std::vector<std::pair<Bytes, std::string>>& knownPairs()
{
    static const std::vector<std::pair<Bytes, std::string>> pairs = {
        {bytesOf(""), ""},
        {bytesOf("f"), "Zg=="},
        {bytesOf("fo"), "Zm8="},
        {bytesOf("foo"), "Zm9v"},
        {bytesOf("foob"), "Zm9vYg=="},
        {bytesOf("fooba"), "Zm9vYmE="},
        {bytesOf("foobar"), "Zm9vYmFy"},
        {{0x00, 0x00, 0x00}, "AAAA"},
        {{0xFF, 0xFF, 0xFF}, "////"},
        {{0xFB, 0xFF}, "+/8="},
        {{0xF8}, "+A=="},
        {{0x00}, "AA=="},
        // Bytes above 0x7f must not be sign-extended on their way into the alphabet.
        {{0xFF, 0xFE, 0xFD}, "//79"},
        {{0x80}, "gA=="},
    };
    return pairs;
}

TEST(Base64, KnownVectorsBothWays)
{
    for (const auto& [bytes, text] : knownPairs()) {
        EXPECT_EQ(base64::encode(bytes), text) << "for " << bytes.size() << " bytes";
        EXPECT_EQ(base64::decodeStrict(text), bytes) << text;
    }
}

TEST(Base64Decode, RefusesLengthsThatAreNotAMultipleOfFour)
{
    for (const std::string_view text : {"Z"sv, "Zg"sv, "Zg="sv, "Zm9vY"sv, "Zm9vYg="sv, "Zm9vYmFy="sv, "Zm9vYmFyA"sv})
        EXPECT_FALSE(base64::decodeStrict(text).has_value()) << '"' << text << '"';
}

TEST(Base64Decode, RefusesMisplacedPadding)
{
    for (const std::string_view text : {
             "===="sv, "Z==="sv, "=Zg="sv, "=m9v"sv, "Z=9v"sv, "Zm=v"sv, "Zg=A"sv,
             "Zg==Zm9v"sv,     // padding that ends a quad before the last one
             "Zm8=Zm9v"sv,
             "Zg======"sv,     // a whole quad of padding after the real one
             "Zm9vYg==Zg=="sv,
         })
        EXPECT_FALSE(base64::decodeStrict(text).has_value()) << '"' << text << '"';
}

TEST(Base64Decode, RefusesAForeignCharacterAnywhere)
{
    // "foobarbaz": three full quads, so the bad character lands in an ordinary quad as well as
    // in the last one, which is decoded apart from the others.
    const std::string valid = "Zm9vYmFyYmF6";
    ASSERT_TRUE(base64::decodeStrict(valid).has_value());
    const std::string foreign[] = {" ", "\n", "\r", "\t", "-", "_", ".", "!", std::string(1, '\0'), "\x7f", "\x80", "\xff", "="};
    for (std::size_t position = 0; position < valid.size(); ++position) {
        for (const auto& bad : foreign) {
            // A final '=' is legitimate padding.
            if (bad == "=" && position == valid.size() - 1)
                continue;
            std::string text = valid;
            text[position] = bad[0];
            EXPECT_FALSE(base64::decodeStrict(text).has_value())
                << "character " << static_cast<int>(static_cast<unsigned char>(bad[0])) << " at " << position;
        }
    }
}

TEST(Base64RoundTrip, EveryByteValueInEveryPosition)
{
    Bytes all(256);
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(base64::decodeStrict(base64::encode(all)), all);

    // Repeating one value puts it first, second and third in a group, and in each kind of tail.
    for (int value = 0; value < 256; ++value) {
        for (std::size_t length = 1; length <= 6; ++length) {
            const Bytes bytes(length, static_cast<std::uint8_t>(value));
            const auto decoded = base64::decodeStrict(base64::encode(bytes));
            ASSERT_TRUE(decoded.has_value()) << value << " x" << length;
            EXPECT_EQ(*decoded, bytes) << value << " x" << length;
        }
    }
}

TEST(Base64RoundTrip, RandomBuffersOfEveryLengthUpTo100)
{
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t length = 0; length <= 100; ++length) {
        Bytes bytes(length);
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(byte(random));
        const std::string text = base64::encode(bytes);
        EXPECT_EQ(text.size(), (length + 2) / 3 * 4);
        EXPECT_EQ(text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="), std::string::npos);
        const auto decoded = base64::decodeStrict(text);
        ASSERT_TRUE(decoded.has_value()) << text;
        EXPECT_EQ(*decoded, bytes) << "length " << length;
    }
}

TEST(Base64DecodeInto, ReturnsTheExactCountAndWritesNothingBeyondIt)
{
    constexpr std::uint8_t kUntouched = 0xA5;
    constexpr std::size_t kGuard = 16;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t length = 0; length <= 40; ++length) {
        Bytes bytes(length);
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(byte(random));
        const std::string text = base64::encode(bytes);

        std::vector<std::uint8_t> out(base64::decodedSizeBound(text.size()) + kGuard, kUntouched);
        const auto count = base64::decodeStrict(text, out.data());
        ASSERT_TRUE(count.has_value()) << text;
        ASSERT_EQ(*count, length) << text;
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), out.begin())) << text;
        for (std::size_t i = length; i < out.size(); ++i)
            ASSERT_EQ(out[i], kUntouched) << "byte " << i << " written while decoding " << text;
    }
}

TEST(Base64DecodeInto, RefusesWhatTheOtherOverloadRefuses)
{
    std::uint8_t out[16] = {};
    for (const std::string_view text : {"Zg="sv, "Zg=A"sv, "Z==="sv, "Zg==Zm9v"sv, "Zm9\n"sv})
        EXPECT_FALSE(base64::decodeStrict(text, out).has_value()) << '"' << text << '"';
    EXPECT_EQ(base64::decodeStrict("", out), std::optional<std::size_t>(0));
}

} // namespace
} // namespace vd
