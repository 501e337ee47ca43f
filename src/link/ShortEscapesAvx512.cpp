#include "ShortEscapesBlocks.h"

#ifdef VD_SHORT_ESCAPES_X86
#include <immintrin.h>

namespace vd::json::blocks {

#define VD_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt")))

bool haveAvx512()
{
    static const bool have = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                             __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi") &&
                             __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
    return have;
}

// Byte-masked loads and stores keep every block, the last one too, inside the text and the output.
VD_AVX512 std::optional<std::size_t> unescapeAvx512(std::string_view escaped, char* out)
{
    const char* in = escaped.data();
    std::size_t left = escaped.size();
    char* const start = out;
    const __m512i backslash = _mm512_set1_epi8('\\');
    const __m512i quote = _mm512_set1_epi8('"');
    const __m512i slash = _mm512_set1_epi8('/');
    struct Letter {
        __m512i letter;
        __m512i meaning;
    };
    const Letter translated[] = {
        {_mm512_set1_epi8('b'), _mm512_set1_epi8('\b')}, {_mm512_set1_epi8('f'), _mm512_set1_epi8('\f')},
        {_mm512_set1_epi8('n'), _mm512_set1_epi8('\n')}, {_mm512_set1_epi8('r'), _mm512_set1_epi8('\r')},
        {_mm512_set1_epi8('t'), _mm512_set1_epi8('\t')},
    };
    while (left > 0) {
        __m512i block = _mm512_maskz_loadu_epi8(firstBits(left), in);
        const auto escapes = blockEscapes(_mm512_cmpeq_epi8_mask(block, backslash), left);
        if (!escapes)
            return std::nullopt;
        const std::uint64_t escapedChars = escapes->leaders << 1;
        std::uint64_t escapable = _mm512_cmpeq_epi8_mask(block, quote) | _mm512_cmpeq_epi8_mask(block, backslash) |
                                  _mm512_cmpeq_epi8_mask(block, slash);
        for (const Letter& l : translated) {
            const std::uint64_t these = _mm512_mask_cmpeq_epi8_mask(escapedChars, block, l.letter);
            escapable |= these;
            block = _mm512_mask_mov_epi8(block, these, l.meaning);
        }
        if (!onlyShortEscapes(*escapes, _mm512_cmpeq_epi8_mask(block, quote), escapable))
            return std::nullopt;
        const std::uint64_t kept = escapes->taken & ~escapes->leaders;
        const auto written = static_cast<std::size_t>(_mm_popcnt_u64(kept));
        _mm512_mask_storeu_epi8(out, firstBits(written), _mm512_maskz_compress_epi8(kept, block));
        out += written;
        const auto read = static_cast<std::size_t>(_mm_popcnt_u64(escapes->taken));
        in += read;
        left -= read;
    }
    return static_cast<std::size_t>(out - start);
}

} // namespace vd::json::blocks

#endif
