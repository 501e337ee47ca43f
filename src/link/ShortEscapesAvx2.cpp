#include "ShortEscapesBlocks.h"

#ifdef VD_SHORT_ESCAPES_X86
#include <array>
#include <cstring>

#include <immintrin.h>

namespace vd::json::blocks {

#define VD_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))

bool haveAvx2()
{
    static const bool have = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                             __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
    return have;
}

namespace {

// For each choice of bytes kept among eight, the byte shuffle that moves them to the front in
// order. A table rather than pext/pdep, which are slow on some processors that have them.
constexpr std::array<std::uint64_t, 256> packs = [] {
    std::array<std::uint64_t, 256> table{};
    for (unsigned kept = 0; kept < 256; ++kept) {
        unsigned to = 0;
        for (unsigned from = 0; from < 8; ++from) {
            if (kept >> from & 1)
                table[kept] |= std::uint64_t{from} << (8 * to++);
        }
    }
    return table;
}();

// The kept bytes of `bytes`, the low 16 bits of `kept`, written in order from `out`. Up to 16
// bytes are written, those past the kept ones being of no meaning.
VD_AVX2 inline char* pack(__m128i bytes, std::uint64_t kept, char* out)
{
    constexpr std::uint64_t secondEight = 0x0808080808080808;
    const __m128i shuffle = _mm_set_epi64x(static_cast<long long>(packs[kept >> 8 & 0xff] + secondEight),
                                           static_cast<long long>(packs[kept & 0xff]));
    const __m128i packed = _mm_shuffle_epi8(bytes, shuffle);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
    out += _mm_popcnt_u32(kept & 0xff);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_unpackhi_epi64(packed, packed));
    return out + _mm_popcnt_u32(kept >> 8 & 0xff);
}

// One byte per bit: all ones where the bit is set.
VD_AVX2 inline __m256i bytesOf(std::uint32_t bits)
{
    const __m256i eachByteItsBitsByte = _mm256_shuffle_epi8(
        _mm256_set1_epi32(static_cast<int>(bits)),
        _mm256_setr_epi64x(0, 0x0101010101010101, 0x0202020202020202, 0x0303030303030303));
    const __m256i bit = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201));
    return _mm256_cmpeq_epi8(_mm256_and_si256(eachByteItsBitsByte, bit), bit);
}

// One bit per byte of a 64-byte block, held in two halves: set where the byte is all ones.
VD_AVX2 inline std::uint64_t bitsOf(__m256i low, __m256i high)
{
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
           std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32;
}

VD_AVX2 inline std::uint64_t matches(__m256i low, __m256i high, char c)
{
    const __m256i all = _mm256_set1_epi8(c);
    return bitsOf(_mm256_cmpeq_epi8(low, all), _mm256_cmpeq_epi8(high, all));
}

// The letters of \b \f \n \r \t among the escaped bytes of `half` (a bit each) replaced by what
// they stand for; gives where those letters are among all its bytes. The letters are told apart
// by bits 1 to 4, which a byte shuffle looks up twice: the letter each value would be, and what
// that letter stands for. A value no letter has holds a byte of another value, which no byte
// can match there: 0, but -1 for 0, which is 0's.
VD_AVX2 inline __m256i translateLetters(__m256i& half, std::uint32_t escaped)
{
    const __m256i letterOf = _mm256_broadcastsi128_si256(_mm_setr_epi8(-1, 'b', 0, 'f', 0, 0, 0, 'n', 0, 'r', 't', 0, 0, 0, 0, 0));
    const __m256i meaningOf =
        _mm256_broadcastsi128_si256(_mm_setr_epi8(0, '\b', 0, '\f', 0, 0, 0, '\n', 0, '\r', '\t', 0, 0, 0, 0, 0));
    const __m256i index = _mm256_and_si256(_mm256_srli_epi16(half, 1), _mm256_set1_epi8(0x0f));
    const __m256i letters = _mm256_cmpeq_epi8(half, _mm256_shuffle_epi8(letterOf, index));
    half = _mm256_blendv_epi8(half, _mm256_shuffle_epi8(meaningOf, index), _mm256_and_si256(letters, bytesOf(escaped)));
    return letters;
}

struct Step {
    std::size_t read;
    std::size_t written;
};

// The escapes of the block of 64 readable bytes at `in`, of which the first `left` (all when more)
// are text, undone; up to 64 bytes are written from `out`, those past `written` of no meaning.
// Kept inline in the loop over whole blocks, where its constants are set up once.
[[gnu::always_inline]] VD_AVX2 inline std::optional<Step> unescapeBlock(const char* in, std::size_t left, char* out)
{
    __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32));
    const std::uint64_t backslashes = matches(low, high, '\\');
    const auto escapes = blockEscapes(backslashes, left);
    if (!escapes)
        return std::nullopt;
    const std::uint64_t quotes = matches(low, high, '"');
    const std::uint64_t escapedChars = escapes->leaders << 1;
    const __m256i lowLetters = translateLetters(low, static_cast<std::uint32_t>(escapedChars));
    const __m256i highLetters = translateLetters(high, static_cast<std::uint32_t>(escapedChars >> 32));
    const std::uint64_t escapable = quotes | backslashes | matches(low, high, '/') | bitsOf(lowLetters, highLetters);
    if (!onlyShortEscapes(*escapes, quotes, escapable))
        return std::nullopt;
    const std::uint64_t kept = escapes->taken & ~escapes->leaders;
    char* end = pack(_mm256_castsi256_si128(low), kept, out);
    end = pack(_mm256_extracti128_si256(low, 1), kept >> 16, end);
    end = pack(_mm256_castsi256_si128(high), kept >> 32, end);
    end = pack(_mm256_extracti128_si256(high, 1), kept >> 48, end);
    return Step{static_cast<std::size_t>(_mm_popcnt_u64(escapes->taken)), static_cast<std::size_t>(end - out)};
}

} // namespace

// Whole blocks are read and written where they lie: the output never runs ahead of the text, so
// the 64 bytes a block may write fit where the 64 it reads are. Without byte-masked loads and
// stores, the last part-block goes through buffers of its own.
VD_AVX2 std::optional<std::size_t> unescapeAvx2(std::string_view escaped, char* out)
{
    const char* in = escaped.data();
    std::size_t left = escaped.size();
    char* const start = out;
    while (left >= 64) {
        const auto step = unescapeBlock(in, left, out);
        if (!step)
            return std::nullopt;
        in += step->read;
        left -= step->read;
        out += step->written;
    }
    if (left > 0) {
        char text[64] = {};
        char unescaped[64];
        std::memcpy(text, in, left);
        const auto step = unescapeBlock(text, left, unescaped);
        if (!step)
            return std::nullopt;
        std::memcpy(out, unescaped, step->written);
        out += step->written;
    }
    return static_cast<std::size_t>(out - start);
}

} // namespace vd::json::blocks

#endif
