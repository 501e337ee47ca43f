#include "ShortEscapes.h"

#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VD_SHORT_ESCAPES_AVX512 1
#include <immintrin.h>
#endif

namespace vd::json {

#ifdef VD_SHORT_ESCAPES_AVX512
namespace {

#define VD_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt")))

// The first `count` bits, for count <= 64.
VD_AVX512 inline std::uint64_t firstBits(std::size_t count)
{
    return count >= 64 ? ~std::uint64_t{0} : _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(count));
}

// Each escape's backslash among a block's backslashes, the block starting with no escape open:
// in a run of backslashes the first, third, fifth... lead, and the ones after them are escaped.
// Without a loop: a run that starts on an even bit is cleared by adding its first bit, which
// tells the runs starting on even bits from those starting on odd ones.
VD_AVX512 inline std::uint64_t leadingBackslashes(std::uint64_t backslashes)
{
    constexpr std::uint64_t even = 0x5555555555555555;
    const std::uint64_t runStarts = backslashes & ~(backslashes << 1);
    const std::uint64_t inEvenRuns = backslashes & ~(backslashes + (runStarts & even));
    const std::uint64_t inOddRuns = backslashes & ~inEvenRuns;
    return (inEvenRuns & even) | (inOddRuns & ~even);
}

VD_AVX512 std::optional<std::size_t> unescapeBlocks(std::string_view escaped, char* out)
{
    const char* in = escaped.data();
    std::size_t left = escaped.size();
    char* const start = out;
    const __m512i backslash = _mm512_set1_epi8('\\');
    const __m512i quote = _mm512_set1_epi8('"');
    struct Letter {
        __m512i letter;
        __m512i meaning;
    };
    const Letter translated[] = {
        {_mm512_set1_epi8('b'), _mm512_set1_epi8('\b')}, {_mm512_set1_epi8('f'), _mm512_set1_epi8('\f')},
        {_mm512_set1_epi8('n'), _mm512_set1_epi8('\n')}, {_mm512_set1_epi8('r'), _mm512_set1_epi8('\r')},
        {_mm512_set1_epi8('t'), _mm512_set1_epi8('\t')},
    };
    const __m512i slash = _mm512_set1_epi8('/');
    while (left > 0) {
        std::uint64_t taken = firstBits(left);
        __m512i block = _mm512_maskz_loadu_epi8(taken, in);
        std::uint64_t leaders = leadingBackslashes(_mm512_mask_cmpeq_epi8_mask(taken, block, backslash));
        const std::uint64_t lastBit = std::uint64_t{1} << (left >= 64 ? 63 : left - 1);
        if (leaders & lastBit) {
            // An escape cut by the block's end starts the next block; one cut by the text's end
            // is no escape.
            if (left <= 64)
                return std::nullopt;
            leaders &= ~lastBit;
            taken &= ~lastBit;
        }
        const std::uint64_t escapedChars = leaders << 1;
        if (_mm512_mask_cmpeq_epi8_mask(taken & ~escapedChars, block, quote))
            return std::nullopt;
        std::uint64_t known = _mm512_cmpeq_epi8_mask(block, quote) | _mm512_cmpeq_epi8_mask(block, backslash) |
                              _mm512_cmpeq_epi8_mask(block, slash);
        for (const Letter& l : translated) {
            const std::uint64_t these = _mm512_mask_cmpeq_epi8_mask(escapedChars, block, l.letter);
            known |= these;
            block = _mm512_mask_mov_epi8(block, these, l.meaning);
        }
        if (escapedChars & ~known)
            return std::nullopt;
        const std::uint64_t kept = taken & ~leaders;
        const auto written = static_cast<std::size_t>(_mm_popcnt_u64(kept));
        _mm512_mask_storeu_epi8(out, firstBits(written), _mm512_maskz_compress_epi8(kept, block));
        out += written;
        const auto read = static_cast<std::size_t>(_mm_popcnt_u64(taken));
        in += read;
        left -= read;
    }
    return static_cast<std::size_t>(out - start);
}

bool haveBlockInstructions()
{
    static const bool have = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                             __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi2");
    return have;
}

} // namespace

std::optional<std::size_t> unescapeShortEscapes(std::string_view escaped, char* out)
{
    if (!haveBlockInstructions())
        return std::nullopt;
    return unescapeBlocks(escaped, out);
}

#else

std::optional<std::size_t> unescapeShortEscapes(std::string_view, char*)
{
    return std::nullopt;
}

#endif

} // namespace vd::json
