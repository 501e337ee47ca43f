#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/ShortEscapesBlocks.h"
#include "support/FullParse.h"

namespace vd::json {

namespace blocks {
// Test names and messages show a block unescaper by its name.
void PrintTo(const BlockUnescaper& unescaper, std::ostream* out)
{
    *out << unescaper.name;
}
} // namespace blocks

namespace {

// Every block unescaper built in, each on the processors that have its instructions.
class ShortEscapes : public testing::TestWithParam<blocks::BlockUnescaper> {
protected:
    void SetUp() override
    {
        if (!GetParam().supported())
            GTEST_SKIP() << "this processor has not the instructions of " << GetParam().name;
    }

    std::optional<std::string> unescaped(std::string_view escaped) const
    {
        std::string out(escaped.size(), '\0');
        const auto size = GetParam().unescape(escaped, out.data());
        if (!size)
            return std::nullopt;
        out.resize(*size);
        return out;
    }
};

// What a full JSON parse makes of the same string.
std::optional<std::string> parsed(std::string_view escaped)
{
    const auto value = test::fullParse("{\"\":\"" + std::string(escaped) + "\"}");
    return value ? std::optional(value->at("").get<std::string>()) : std::nullopt;
}

// Escapes cut by a block's end, runs of backslashes across it, every letter, and the texts it
// leaves to the full unescaper, among them a backslash before any byte but the short escapes'.
TEST_P(ShortEscapes, UndoesEscapesAcrossBlocksAsAFullParseAndLeavesTheRest)
{
    for (std::size_t lead = 0; lead < 140; ++lead) {
        const std::string a(lead, 'a');
        for (const std::string tail : {"\\\"b", "\\\\\\\\\\\"", "\\\\", "\\/\\b\\f\\n\\r\\t", "x\\\\\\\"y"}) {
            const std::string text = a + tail + a;
            EXPECT_EQ(unescaped(text), parsed(text)) << text;
        }
    }
    for (const std::string& text : std::vector<std::string>{"\\u00e9", "a\\x", "\\", "abc\\", "a\"b", std::string(63, 'a') + "\\",
                                   std::string(64, 'a') + "\\u0041", "\\'"})
        EXPECT_EQ(unescaped(text), std::nullopt) << text;
    for (int c = 0; c < 256; ++c) {
        if (std::string_view("\"\\/bfnrt").find(static_cast<char>(c)) != std::string_view::npos)
            continue;
        for (const std::size_t lead : {0, 30, 31, 32, 62, 64}) {
            const std::string text = std::string(lead, 'a') + '\\' + static_cast<char>(c) + "a";
            EXPECT_EQ(unescaped(text), std::nullopt) << "byte " << c << " after " << lead;
        }
    }
    EXPECT_EQ(unescaped(""), "");
}

// Random texts from the pieces a record's text is made of (a raw control character is not one:
// the report's own parse refuses it before any text is unescaped): whatever the block unescaper gives
// is what a full parse gives, and it gives it for every text whose escapes are all short.
TEST_P(ShortEscapes, RandomTextsUnescapeAsAFullParse)
{
    const std::vector<std::string> shortPieces{"a", "bc", "\\\"", "\\\\", "\\/", "\\n", "\\r", "\\t", "\\b", "\\f",
                                               "\xc3\xa9", "  ", "{", ":"};
    const std::vector<std::string> otherPieces{"\"", "\\u00e9", "\\ud83d\\ude00", "\\x", "\\0", "\\"};
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        bool onlyShort = true;
        const auto pieces = random() % 120;
        for (std::size_t i = 0; i < pieces; ++i) {
            if (random() % 200 == 0) {
                text += otherPieces[random() % otherPieces.size()];
                onlyShort = false;
            } else {
                text += shortPieces[random() % shortPieces.size()];
            }
        }
        const auto fast = unescaped(text);
        if (fast) {
            EXPECT_EQ(fast, parsed(text)) << text;
        }
        if (onlyShort) {
            EXPECT_TRUE(fast.has_value()) << text;
        }
    }
}

// The text at the very end of readable memory, and the output exactly its size: nothing past
// either is touched.
TEST_P(ShortEscapes, ReadsAndWritesNothingPastTheEnds)
{
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* pages = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(pages, MAP_FAILED);
    char* const guard = static_cast<char*>(pages) + page;
    ASSERT_EQ(mprotect(guard, page, PROT_NONE), 0);
    for (std::size_t size : {1, 5, 63, 64, 65, 130}) {
        std::string text;
        while (text.size() < size)
            text += text.size() % 3 ? "\\\"" : "z";
        text.resize(size);
        if (text.back() == '\\')
            text.back() = 'q';
        char* const in = guard - text.size();
        std::memcpy(in, text.data(), text.size());
        std::vector<char> out(text.size() + 64, '#');
        const auto written = GetParam().unescape({in, text.size()}, out.data());
        ASSERT_TRUE(written) << text;
        EXPECT_EQ(std::string(out.data(), *written), parsed(text));
        EXPECT_EQ(std::string(out.begin() + static_cast<std::ptrdiff_t>(text.size()), out.end()), std::string(64, '#'));
    }
    munmap(pages, 2 * page);
}

INSTANTIATE_TEST_SUITE_P(EachInstructionSet, ShortEscapes, testing::ValuesIn(blocks::all()),
                         [](const auto& info) { return std::string(info.param.name); });
// A build for other processors has none.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ShortEscapes);

} // namespace
} // namespace vd::json
