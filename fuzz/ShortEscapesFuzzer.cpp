// Block unescaping: any bytes, read as the inside of a JSON string, are unescaped alike by every
// block unescaper this processor can run, or left alike to the full unescaper; what they give
// is what a full parse makes of the string. The output has exactly the text's size, so a write
// past it is caught, as is a read past the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/ShortEscapesBlocks.h"
#include "support/FullParse.h"

namespace {

std::optional<std::string> unescaped(const vd::json::blocks::BlockUnescaper& unescaper, std::string_view escaped)
{
    std::vector<char> out(escaped.size());
    const auto size = unescaper.unescape(escaped, out.data());
    return size ? std::optional<std::string>(std::in_place, out.data(), *size) : std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view escaped(reinterpret_cast<const char*>(data), size);
    std::optional<std::optional<std::string>> agreed;
    for (const auto& unescaper : vd::json::blocks::all()) {
        if (!unescaper.supported())
            continue;
        const auto text = unescaped(unescaper, escaped);
        if (agreed && *agreed != text)
            std::abort();
        agreed = text;
    }
    if (!agreed || !*agreed)
        return 0;
    // A parse refuses raw control characters and broken UTF-8, which no unescaper looks at.
    const auto parsed = vd::test::fullParse("{\"\":\"" + std::string(escaped) + "\"}");
    if (parsed && parsed->at("").get<std::string>() != **agreed)
        std::abort();
    return 0;
}
