#include <algorithm>

#include <QByteArray>

#include <gtest/gtest.h>

#include "platform/Base64.h"
#include "support/DataSuite.h"

namespace vd {
namespace {

// Bad lengths, misplaced padding and a foreign character anywhere are refused by both
// overloads, so a caller decoding into its own buffer gets no laxer rules.
TEST(Base64Decode, RefusesBadLengthsMisplacedPaddingAndForeignCharacters)
{
    std::vector<std::string> refused = {"Z", "Zg", "Zg=", "Zm9vY", "Zm9vYg=", "Zm9vYmFy=", "Zm9vYmFyA", "====", "Z===", "=Zg=",
                                        "=m9v", "Z=9v", "Zm=v", "Zg=A", "Zg==Zm9v", "Zm8=Zm9v", "Zg======", "Zm9vYg==Zg=="};
    // Three full quads: the bad character lands in ordinary quads as well as in the last one,
    // which is decoded apart from the others; "=" in the last place is legitimate padding. The
    // literal's closing NUL is one of the foreign characters.
    const std::string valid = "Zm9vYmFyYmF6";
    for (std::size_t position = 0; position < valid.size(); ++position) {
        for (const char bad : " \n\r\t-_.!\x7f\x80\xff=") {
            if (bad != '=' || position != valid.size() - 1)
                refused.push_back(valid.substr(0, position) + bad + valid.substr(position + 1));
        }
    }
    std::uint8_t out[16] = {};
    for (const auto& text : refused) {
        EXPECT_FALSE(base64::decodeStrict(text).has_value()) << '"' << text << '"';
        EXPECT_FALSE(base64::decodeStrict(text, out).has_value()) << '"' << text << '"';
    }
}

// Every length into a buffer of the bound's size: exactly the count is written, nothing beyond.
TEST(Base64RoundTrip, BuffersOfEveryLengthUpTo100IntoAnExactCount)
{
    for (std::size_t length = 0; length <= 100; ++length) {
        const Bytes bytes = test::patterned(length, static_cast<std::uint32_t>(length));
        const std::string text = base64::encode(bytes);
        ASSERT_EQ(text.size(), base64::encodedSize(bytes.size()));
        EXPECT_EQ(base64::decodeStrict(text), bytes) << text;
        Bytes out(base64::decodedSizeBound(text.size()) + 16, 0xA5);
        ASSERT_EQ(base64::decodeStrict(text, out.data()), bytes.size()) << text;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length)), bytes) << text;
        EXPECT_EQ(std::count(out.begin() + static_cast<std::ptrdiff_t>(length), out.end(), 0xA5), static_cast<std::ptrdiff_t>(out.size() - length))
            << "written beyond the count while decoding " << text;
    }
}

// Every length in each of the three remainders, from every alignment in memory, as the toolkit
// writes it: the encoder's wide steps must neither drop, repeat nor read past a byte.
TEST(Base64Encode, EveryLengthAndAlignmentMatchesTheToolkit)
{
    const Bytes bytes = test::patterned(300 + 8, 77);
    for (std::size_t offset = 0; offset < 8; ++offset) {
        for (std::size_t length = 0; offset + length <= bytes.size(); ++length) {
            // An exact copy, so a read past the end is one past the allocation.
            const Bytes input(bytes.begin() + static_cast<std::ptrdiff_t>(offset), bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
            const QByteArray expected = QByteArray(reinterpret_cast<const char*>(input.data()), static_cast<qsizetype>(length)).toBase64();
            std::string text(base64::encodedSize(length) + 1, '#');
            base64::encode(input, text.data());
            ASSERT_EQ(text, expected.toStdString() + '#') << length << " bytes at offset " << offset;
        }
    }
}

} // namespace
} // namespace vd
