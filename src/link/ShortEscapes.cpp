#include "ShortEscapes.h"

#include <array>

#include "ShortEscapesBlocks.h"

namespace vd::json {

namespace blocks {

std::span<const BlockUnescaper> all()
{
#ifdef VD_SHORT_ESCAPES_X86
    static constexpr std::array unescapers{BlockUnescaper{"avx512", haveAvx512, unescapeAvx512},
                                           BlockUnescaper{"avx2", haveAvx2, unescapeAvx2}};
#else
    static constexpr std::array<BlockUnescaper, 0> unescapers{};
#endif
    return unescapers;
}

} // namespace blocks

std::optional<std::size_t> unescapeShortEscapes(std::string_view escaped, char* out)
{
    static const blocks::Unescaper chosen = [] {
        for (const auto& unescaper : blocks::all()) {
            if (unescaper.supported())
                return unescaper.unescape;
        }
        return blocks::Unescaper{};
    }();
    return chosen ? chosen(escaped, out) : std::nullopt;
}

} // namespace vd::json
