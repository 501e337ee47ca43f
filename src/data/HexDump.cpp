#include "HexDump.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif
#ifdef __linux__
#include <sys/mman.h>
#endif

namespace vd {
namespace {

constexpr std::array<std::array<char, 2>, 256> makeHexPairs()
{
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, 2>, 256> table{};
    for (std::size_t i = 0; i < 256; ++i)
        table[i] = {digits[i >> 4], digits[i & 15]};
    return table;
}

constexpr auto kHexPairs = makeHexPairs();

// A line of the dump holds sixteen bytes in 52 characters: "XX " eight times, the gap, "XX "
// eight times, " \n", and the space that starts the next line. The dump is made of spaces
// first, so the writers below only put down digits and line breaks.
constexpr std::size_t kLineBytes = 16;
constexpr std::size_t kLineChars = 52;

constexpr std::size_t digitColumn(std::size_t byte)
{
    return byte < 8 ? 3 * byte : 25 + 3 * (byte - 8);
}

// The digits of up to eight bytes, three columns apart, into text that already holds the spaces.
inline char* putGroup(char* out, const std::uint8_t* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i, out += 3)
        std::memcpy(out, kHexPairs[bytes[i]].data(), 2);
    return out;
}

void putLinesPortable(char* out, const std::uint8_t* bytes, std::size_t lines)
{
    for (std::size_t line = 0; line < lines; ++line, bytes += kLineBytes, out += kLineChars) {
        putGroup(out, bytes, 8);
        putGroup(out + digitColumn(8), bytes + 8, 8);
        out[kLineChars - 2] = '\n';
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Most of the dump is whole lines, and a byte-at-a-time writer spends most of its time on the
// three-character stride. With SSSE3 a line is four stores: the digits of all sixteen bytes come
// out of one 16-entry table look-up per nibble, and byte shuffles spread them over the columns.

struct LineShuffles {
    // Per 16-character slice of the line: where each character comes from in the digits of
    // bytes 0-7 (first) or 8-15 (second), -128 for none; and the spaces in between.
    std::int8_t fromLow[3][16];
    std::int8_t fromHigh[3][16];
    char spaces[3][16];
};

constexpr LineShuffles makeLineShuffles()
{
    LineShuffles m{};
    for (std::size_t slice = 0; slice < 3; ++slice) {
        for (std::size_t i = 0; i < 16; ++i) {
            m.fromLow[slice][i] = -128;
            m.fromHigh[slice][i] = -128;
            m.spaces[slice][i] = ' ';
        }
    }
    for (std::size_t byte = 0; byte < kLineBytes; ++byte) {
        for (std::size_t digit = 0; digit < 2; ++digit) {
            const std::size_t column = digitColumn(byte) + digit;
            const auto source = static_cast<std::int8_t>((byte % 8) * 2 + digit);
            (byte < 8 ? m.fromLow : m.fromHigh)[column / 16][column % 16] = source;
            m.spaces[column / 16][column % 16] = 0;
        }
    }
    return m;
}

constexpr LineShuffles kLineShuffles = makeLineShuffles();

[[gnu::target("ssse3")]] void putLinesSsse3(char* out, const std::uint8_t* bytes, std::size_t lines)
{
    const __m128i digits = _mm_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F');
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const auto load = [](const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); };
    const __m128i low0 = load(kLineShuffles.fromLow[0]);
    const __m128i low1 = load(kLineShuffles.fromLow[1]);
    const __m128i high1 = load(kLineShuffles.fromHigh[1]);
    const __m128i high2 = load(kLineShuffles.fromHigh[2]);
    const __m128i spaces0 = load(kLineShuffles.spaces[0]);
    const __m128i spaces1 = load(kLineShuffles.spaces[1]);
    const __m128i spaces2 = load(kLineShuffles.spaces[2]);
    for (std::size_t line = 0; line < lines; ++line, bytes += kLineBytes, out += kLineChars) {
        const __m128i v = load(bytes);
        const __m128i upper = _mm_shuffle_epi8(digits, _mm_and_si128(_mm_srli_epi16(v, 4), nibble));
        const __m128i lower = _mm_shuffle_epi8(digits, _mm_and_si128(v, nibble));
        const __m128i first = _mm_unpacklo_epi8(upper, lower); // digits of bytes 0-7
        const __m128i second = _mm_unpackhi_epi8(upper, lower); // digits of bytes 8-15
        auto* slice = reinterpret_cast<__m128i*>(out);
        _mm_storeu_si128(slice, _mm_or_si128(_mm_shuffle_epi8(first, low0), spaces0));
        _mm_storeu_si128(slice + 1,
                         _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(first, low1), _mm_shuffle_epi8(second, high1)), spaces1));
        _mm_storeu_si128(slice + 2, _mm_or_si128(_mm_shuffle_epi8(second, high2), spaces2));
        out[kLineChars - 2] = '\n';
    }
}

void putLines(char* out, const std::uint8_t* bytes, std::size_t lines)
{
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3)
        putLinesSsse3(out, bytes, lines);
    else
        putLinesPortable(out, bytes, lines);
}
#else
void putLines(char* out, const std::uint8_t* bytes, std::size_t lines)
{
    putLinesPortable(out, bytes, lines);
}
#endif

// A dump of a large body is tens of megabytes of fresh memory, and touching it page by page
// costs several times more than writing the digits. Large pages, where the system offers
// them, take that down to a few faults.
std::string spacesOfLength(std::size_t size)
{
    std::string text;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
    if (size >= 2 * kLargePage) {
        text.reserve(size);
        const auto begin = reinterpret_cast<std::uintptr_t>(text.data());
        const std::uintptr_t first = (begin + kLargePage - 1) & ~(kLargePage - 1);
        const std::uintptr_t last = (begin + text.capacity()) & ~(kLargePage - 1);
        if (last > first)
            madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE); // advice only: failing changes nothing
    }
#endif
    text.resize(size, ' ');
    return text;
}

} // namespace

std::string hexDumpOf(std::span<const std::uint8_t> data)
{
    // Bodies of several megabytes go through here, so the whole dump is sized up front: whole
    // lines, then a partial line of three characters a byte plus the gap once it reaches eight.
    const std::size_t lines = data.size() / kLineBytes;
    const std::size_t rest = data.size() % kLineBytes;
    const std::size_t size = 1 + lines * kLineChars + rest * 3 + (rest >= 8 ? 1 : 0);
    std::string out = spacesOfLength(size);
    char* o = out.data() + 1;
    putLines(o, data.data(), lines);
    o += lines * kLineChars;
    const std::uint8_t* tail = data.data() + lines * kLineBytes;
    putGroup(o, tail, std::min<std::size_t>(rest, 8));
    if (rest > 8)
        putGroup(o + digitColumn(8), tail + 8, rest - 8);
    return out;
}

} // namespace vd
