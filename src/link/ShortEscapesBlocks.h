#pragma once

// What the block unescapers for each instruction set share, and the list of them, for the
// dispatcher, the tests and the benchmarks. Each one keeps the contract of unescapeShortEscapes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VD_SHORT_ESCAPES_X86 1
#endif

namespace vd::json::blocks {

using Unescaper = std::optional<std::size_t> (*)(std::string_view escaped, char* out);

struct BlockUnescaper {
    const char* name;
    bool (*supported)();
    Unescaper unescape;
};

// Every block unescaper built in, fastest first, whether this processor can run it or not.
std::span<const BlockUnescaper> all();

#ifdef VD_SHORT_ESCAPES_X86
bool haveAvx512();
std::optional<std::size_t> unescapeAvx512(std::string_view escaped, char* out);
bool haveAvx2();
std::optional<std::size_t> unescapeAvx2(std::string_view escaped, char* out);
#endif

// The first `count` bits, for count <= 64.
constexpr std::uint64_t firstBits(std::size_t count)
{
    return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
}

// Each escape's backslash among a block's backslashes, the block starting with no escape open:
// in a run of backslashes the first, third, fifth... lead, and the ones after them are escaped.
// Without a loop: a run that starts on an even bit is cleared by adding its first bit, which
// tells the runs starting on even bits from those starting on odd ones.
constexpr std::uint64_t leadingBackslashes(std::uint64_t backslashes)
{
    constexpr std::uint64_t even = 0x5555555555555555;
    const std::uint64_t runStarts = backslashes & ~(backslashes << 1);
    const std::uint64_t inEvenRuns = backslashes & ~(backslashes + (runStarts & even));
    const std::uint64_t inOddRuns = backslashes & ~inEvenRuns;
    return (inEvenRuns & even) | (inOddRuns & ~even);
}

// The bytes of a 64-byte block that belong to it and the backslashes that lead its escapes.
struct BlockEscapes {
    std::uint64_t taken;
    std::uint64_t leaders;
};

// Of a block over the next `left` bytes of the text (all 64 when there are more), whose
// backslashes are `backslashes`. An escape cut by the block's end starts the next block; one
// cut by the text's end is no escape, and the text is not one this unescapes.
constexpr std::optional<BlockEscapes> blockEscapes(std::uint64_t backslashes, std::size_t left)
{
    BlockEscapes block{firstBits(left), 0};
    block.leaders = leadingBackslashes(backslashes & block.taken);
    const std::uint64_t lastBit = std::uint64_t{1} << (left >= 64 ? 63 : left - 1);
    if (block.leaders & lastBit) {
        if (left <= 64)
            return std::nullopt;
        block.leaders &= ~lastBit;
        block.taken &= ~lastBit;
    }
    return block;
}

// Whether the block has no quote of its own and no escape but the short ones, given where its
// quotes are and where it has a character that may follow a backslash.
constexpr bool onlyShortEscapes(const BlockEscapes& block, std::uint64_t quotes, std::uint64_t escapable)
{
    const std::uint64_t escaped = block.leaders << 1;
    return !(quotes & block.taken & ~escaped) && !(escaped & ~escapable);
}

} // namespace vd::json::blocks
