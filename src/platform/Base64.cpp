#include "Base64.h"

#include <array>
#include <bit>
#include <cstring>

namespace vd::base64 {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint32_t kInvalid = 1u << 24;

// One table per position in a quad, holding the six bits already shifted into place, so a
// quad decodes with four look-ups, three ORs and a single validity test.
constexpr std::array<std::uint32_t, 256> makeTable(int shift)
{
    std::array<std::uint32_t, 256> table{};
    for (auto& entry : table)
        entry = kInvalid;
    for (std::uint32_t i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = i << shift;
    return table;
}

constexpr auto kTable0 = makeTable(18);
constexpr auto kTable1 = makeTable(12);
constexpr auto kTable2 = makeTable(6);
constexpr auto kTable3 = makeTable(0);

inline std::uint32_t quad(const unsigned char* p)
{
    return kTable0[p[0]] | kTable1[p[1]] | kTable2[p[2]] | kTable3[p[3]];
}

// Every 12-bit group as its two characters, laid out in memory in output order, so encoding
// takes one look-up per two characters instead of one per character.
constexpr std::array<std::uint16_t, 4096> makePairs()
{
    std::array<std::uint16_t, 4096> pairs{};
    for (std::uint32_t i = 0; i < 4096; ++i) {
        const auto first = static_cast<std::uint8_t>(kAlphabet[i >> 6]);
        const auto second = static_cast<std::uint8_t>(kAlphabet[i & 63]);
        pairs[i] = std::endian::native == std::endian::little ? static_cast<std::uint16_t>(first | second << 8)
                                                              : static_cast<std::uint16_t>(first << 8 | second);
    }
    return pairs;
}

constexpr auto kPairs = makePairs();

inline std::uint64_t bigEndian64(const std::uint8_t* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little)
        v = __builtin_bswap64(v);
    return v;
}

} // namespace

std::string encode(std::span<const std::uint8_t> bytes)
{
    std::string out(encodedSize(bytes.size()), '=');
    encode(bytes, out.data());
    return out;
}

void encode(std::span<const std::uint8_t> bytes, char* out)
{
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const end = p + bytes.size();
    char* o = out;
    // Six bytes per step through the pair table: one 64-bit load, four look-ups and one 8-byte
    // store. The load reads two bytes past the six it uses, so the loop stops eight short.
    while (end - p >= 8) {
        const std::uint64_t v = bigEndian64(p);
        std::uint16_t quad[4] = {kPairs[v >> 52], kPairs[(v >> 40) & 0xFFF], kPairs[(v >> 28) & 0xFFF], kPairs[(v >> 16) & 0xFFF]};
        std::memcpy(o, quad, sizeof quad);
        p += 6;
        o += 8;
    }
    for (; end - p >= 3; p += 3, o += 4) {
        const std::uint32_t v = (p[0] << 16) | (p[1] << 8) | p[2];
        std::memcpy(o, &kPairs[v >> 12], 2);
        std::memcpy(o + 2, &kPairs[v & 0xFFF], 2);
    }
    if (const auto rest = end - p) {
        const std::uint32_t v = (p[0] << 16) | (rest == 2 ? p[1] << 8 : 0);
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        o[3] = '=';
    }
}

std::optional<std::size_t> decodeStrict(std::string_view text, std::uint8_t* out)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    if (text.empty())
        return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t fullQuads = text.size() / 4 - 1;
    std::uint8_t* o = out;
    for (std::size_t q = 0; q < fullQuads; ++q, p += 4, o += 3) {
        const std::uint32_t v = quad(p);
        if (v & kInvalid)
            return std::nullopt;
        o[0] = static_cast<std::uint8_t>(v >> 16);
        o[1] = static_cast<std::uint8_t>(v >> 8);
        o[2] = static_cast<std::uint8_t>(v);
    }
    // The last quad may carry one or two padding characters.
    const int padding = p[3] != '=' ? 0 : p[2] != '=' ? 1 : 2;
    const unsigned char last[4] = {p[0], p[1], static_cast<unsigned char>(padding == 2 ? 'A' : p[2]), static_cast<unsigned char>(padding >= 1 ? 'A' : p[3])};
    const std::uint32_t v = quad(last);
    if (v & kInvalid)
        return std::nullopt;
    o[0] = static_cast<std::uint8_t>(v >> 16);
    if (padding < 2)
        o[1] = static_cast<std::uint8_t>(v >> 8);
    if (padding < 1)
        o[2] = static_cast<std::uint8_t>(v);
    return static_cast<std::size_t>(o - out) + 3 - padding;
}

std::optional<Bytes> decodeStrict(std::string_view text)
{
    Bytes out(decodedSizeBound(text.size()));
    const auto size = decodeStrict(text, out.data());
    if (!size)
        return std::nullopt;
    out.resize(*size);
    return out;
}

} // namespace vd::base64
