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

// The kept bytes of `bytes` written in order from `out`. Up to 16 bytes are written, those past
// the kept ones being of no meaning.
VD_AVX2 char* pack(__m128i bytes, unsigned kept, char* out)
{
    constexpr std::uint64_t secondEight = 0x0808080808080808;
    const __m128i shuffle = _mm_set_epi64x(static_cast<long long>(packs[kept >> 8] + secondEight),
                                           static_cast<long long>(packs[kept & 0xff]));
    const __m128i packed = _mm_shuffle_epi8(bytes, shuffle);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
    out += _mm_popcnt_u32(kept & 0xff);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_unpackhi_epi64(packed, packed));
    return out + _mm_popcnt_u32(kept >> 8);
}

// One byte per bit: all ones where the bit is set.
VD_AVX2 __m256i bytesOf(std::uint32_t bits)
{
    const __m256i eachByteItsBitsByte = _mm256_shuffle_epi8(
        _mm256_set1_epi32(static_cast<int>(bits)),
        _mm256_setr_epi64x(0, 0x0101010101010101, 0x0202020202020202, 0x0303030303030303));
    const __m256i bit = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201));
    return _mm256_cmpeq_epi8(_mm256_and_si256(eachByteItsBitsByte, bit), bit);
}

// A bit for each byte of the block that is `c`.
VD_AVX2 std::uint64_t matches(const __m256i (&halves)[2], char c)
{
    const __m256i all = _mm256_set1_epi8(c);
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(halves[0], all))) |
           std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(halves[1], all)))} << 32;
}

struct Letter {
    char letter;
    char meaning;
};
constexpr Letter translated[] = {{'b', '\b'}, {'f', '\f'}, {'n', '\n'}, {'r', '\r'}, {'t', '\t'}};

struct Step {
    std::size_t read;
    std::size_t written;
};

// The escapes of the block of 64 readable bytes at `in`, of which the first `left` (all when more)
// are text, undone; up to 64 bytes are written from `out`, those past `written` of no meaning.
VD_AVX2 std::optional<Step> unescapeBlock(const char* in, std::size_t left, char* out)
{
    __m256i halves[2] = {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in)),
                         _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32))};
    const auto escapes = blockEscapes(matches(halves, '\\'), left);
    if (!escapes)
        return std::nullopt;
    const std::uint64_t quotes = matches(halves, '"');
    std::uint64_t escapable = quotes | matches(halves, '\\') | matches(halves, '/');
    const std::uint64_t escapedChars = escapes->leaders << 1;
    for (int h = 0; h < 2; ++h) {
        const __m256i escapedBytes = bytesOf(static_cast<std::uint32_t>(escapedChars >> (32 * h)));
        __m256i letters = _mm256_setzero_si256();
        for (const auto& [letter, meaning] : translated) {
            const __m256i these = _mm256_and_si256(_mm256_cmpeq_epi8(halves[h], _mm256_set1_epi8(letter)), escapedBytes);
            letters = _mm256_or_si256(letters, these);
            halves[h] = _mm256_blendv_epi8(halves[h], _mm256_set1_epi8(meaning), these);
        }
        escapable |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(letters))} << (32 * h);
    }
    if (!onlyShortEscapes(*escapes, quotes, escapable))
        return std::nullopt;
    const std::uint64_t kept = escapes->taken & ~escapes->leaders;
    char* end = out;
    for (int quarter = 0; quarter < 4; ++quarter) {
        const __m128i bytes = quarter % 2 ? _mm256_extracti128_si256(halves[quarter / 2], 1)
                                          : _mm256_castsi256_si128(halves[quarter / 2]);
        end = pack(bytes, static_cast<unsigned>(kept >> (16 * quarter)) & 0xffff, end);
    }
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
