#include <array>
#include <string>

#include "VDUtils.h"
#include "platform/Base64.h"

namespace vd {
namespace {

constexpr std::uint8_t kNotBase64 = 0xFF;
constexpr std::uint8_t kPadding = 0xFE;

constexpr std::array<std::uint8_t, 256> makeSextets()
{
    constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table)
        entry = kNotBase64;
    for (std::uint8_t i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(alphabet[i])] = i;
    table[static_cast<unsigned char>('=')] = kPadding;
    return table;
}

constexpr auto kSextets = makeSextets();

// The slow path, for text the strict decoder refuses. Characters outside the alphabet are
// skipped wherever they stand. "=" ends the data: how many follow does not matter (the padding
// added beforehand was counted against a length that included the skipped characters), but a
// symbol after one means two texts ran together or the text is damaged, and gives none.
// Whatever remains at the end must make whole bytes: two or three symbols carry one or two
// bytes, while a lone symbol (six bits) cannot, and gives none rather than a shortened result.
std::optional<Bytes> decodeLenient(std::string_view text)
{
    Bytes out;
    out.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t bits = 0;
    int pending = 0;
    bool ended = false;
    for (const char c : text) {
        const std::uint8_t sextet = kSextets[static_cast<unsigned char>(c)];
        if (sextet == kNotBase64)
            continue;
        if (sextet == kPadding) {
            ended = true;
            continue;
        }
        if (ended)
            return std::nullopt;
        bits = (bits << 6) | sextet;
        if (++pending == 4) {
            out.push_back(static_cast<std::uint8_t>(bits >> 16));
            out.push_back(static_cast<std::uint8_t>(bits >> 8));
            out.push_back(static_cast<std::uint8_t>(bits));
            bits = 0;
            pending = 0;
        }
    }
    if (pending == 1)
        return std::nullopt;
    if (pending == 2) {
        out.push_back(static_cast<std::uint8_t>(bits >> 4));
    } else if (pending == 3) {
        out.push_back(static_cast<std::uint8_t>(bits >> 10));
        out.push_back(static_cast<std::uint8_t>(bits >> 2));
    }
    return out;
}

// The fast strict decoder first; the slow lenient one for text it refuses.
std::optional<Bytes> decodeEither(std::string_view text)
{
    if (auto strict = base64::decodeStrict(text))
        return strict;
    return decodeLenient(text);
}

// The text padded to a multiple of four, with the url-safe symbols mapped when asked.
std::string standardised(std::string_view text, std::size_t missing, bool urlSafe)
{
    std::string fixed;
    fixed.reserve(text.size() + missing);
    fixed.append(text);
    fixed.append(missing, '=');
    if (urlSafe) {
        for (auto& c : fixed) {
            if (c == '_')
                c = '/';
            else if (c == '-')
                c = '+';
        }
    }
    return fixed;
}

} // namespace

std::optional<Bytes> VDUtils::base64DecodeData(std::string_view text, bool urlSafe)
{
    const std::size_t missing = (4 - text.size() % 4) % 4;
    // Bodies and icons arrive as plain, padded base64: decode them in place and copy the text
    // only when it has to change.
    if (missing == 0 && !urlSafe)
        return decodeEither(text);
    return decodeEither(standardised(text, missing, urlSafe));
}

} // namespace vd
