#include "WireEncoder.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <memory>
#include <cstring>
#include <string>
#include <string_view>

#include <simdjson.h>

#include "platform/Base64.h"

namespace vd {
namespace {

using Json = nlohmann::ordered_json;

// JSON is gathered here and turned into Base64 a piece at a time, small enough to stay in the
// cache between the two steps. A multiple of three, so only the last piece is ever padded.
constexpr std::size_t kPiece = 48 * 1024;
static_assert(kPiece % 3 == 0);
// Room beyond a piece for whatever one write adds: a number, a literal, an escaped run.
constexpr std::size_t kSlack = 1024;
// The longest escape of one byte: \u001f.
constexpr std::size_t kLongestEscape = 6;

// How each byte is written inside a string: 0 as itself, otherwise the letter after the
// backslash, 'u' meaning \u00XX. These are exactly the escapes dump() uses.
constexpr std::array<char, 256> makeEscapes()
{
    std::array<char, 256> escapes{};
    for (int c = 0; c < 0x20; ++c)
        escapes[c] = 'u';
    escapes['\b'] = 'b';
    escapes['\t'] = 't';
    escapes['\n'] = 'n';
    escapes['\f'] = 'f';
    escapes['\r'] = 'r';
    escapes['"'] = '"';
    escapes['\\'] = '\\';
    return escapes;
}

constexpr auto kEscapes = makeEscapes();
constexpr char kHexDigits[] = "0123456789abcdef";

constexpr std::uint64_t kEveryByte = 0x0101010101010101ull;
constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Whether one of the eight bytes in `word` is below `limit` (at most 0x80); bytes from 0x80 up
// never count.
constexpr bool hasByteBelow(std::uint64_t word, std::uint8_t limit)
{
    return ((word - kEveryByte * limit) & ~word & kHighBits) != 0;
}

// Whether one of the eight bytes needs an escape, so the common run of plain text is copied
// eight bytes at a time.
constexpr bool needsEscape(std::uint64_t word)
{
    return hasByteBelow(word, 0x20) || hasByteBelow(word ^ (kEveryByte * '"'), 1) || hasByteBelow(word ^ (kEveryByte * '\\'), 1);
}

// A generous guess of the JSON's size, so the wire is reserved once: dump() adds quotes,
// separators and escapes, and tunnel texts (JSON inside strings) grow by about a tenth when
// escaped. Reserving only claims address space; pages are touched as the wire fills.
std::size_t estimatedSize(const Json& value)
{
    switch (value.type()) {
    case Json::value_t::string: {
        const std::size_t size = value.get_ref<const std::string&>().size();
        return size + size / 6 + 2;
    }
    case Json::value_t::array: {
        std::size_t size = 2;
        for (const auto& item : value.get_ref<const Json::array_t&>())
            size += estimatedSize(item) + 1;
        return size;
    }
    case Json::value_t::object: {
        std::size_t size = 2;
        for (const auto& [key, item] : value.get_ref<const Json::object_t&>())
            size += key.size() + 4 + estimatedSize(item);
        return size;
    }
    default: return 24;
    }
}

class WireWriter {
public:
    WireWriter(std::size_t expectedJsonSize, std::size_t terminatorSize)
    {
        wire_.reserve(base64::encodedSize(expectedJsonSize) + terminatorSize);
    }

    // False when a string is not valid UTF-8; what was written is then of no use.
    bool value(const Json& value)
    {
        switch (value.type()) {
        case Json::value_t::object: return object(value.get_ref<const Json::object_t&>());
        case Json::value_t::array: return array(value.get_ref<const Json::array_t&>());
        case Json::value_t::string: return string(value.get_ref<const std::string&>());
        case Json::value_t::null: text("null"); return true;
        case Json::value_t::boolean: text(value.get<bool>() ? "true" : "false"); return true;
        case Json::value_t::number_integer: integer(value.get<std::int64_t>()); return true;
        case Json::value_t::number_unsigned: integer(value.get<std::uint64_t>()); return true;
        default:
            // Reals (whose shortest form is dump()'s own), binary values and the rest are rare
            // in packets; dump() writes them alone exactly as it would inside the dictionary.
            text(value.dump());
            return true;
        }
    }

    Bytes finish(std::span<const std::uint8_t> terminator)
    {
        encodePiece(used_);
        used_ = 0;
        wire_.insert(wire_.end(), terminator.begin(), terminator.end());
        return std::move(wire_);
    }

private:
    bool object(const Json::object_t& members)
    {
        character('{');
        bool first = true;
        for (const auto& [key, item] : members) {
            if (!first)
                character(',');
            first = false;
            if (!string(key))
                return false;
            character(':');
            if (!value(item))
                return false;
        }
        character('}');
        return true;
    }

    bool array(const Json::array_t& items)
    {
        character('[');
        bool first = true;
        for (const auto& item : items) {
            if (!first)
                character(',');
            first = false;
            if (!value(item))
                return false;
        }
        character(']');
        return true;
    }

    bool string(std::string_view text)
    {
        character('"');
        const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
        const auto* const end = p + text.size();
        std::uint64_t seen = 0; // every byte ORed in: its high bits tell whether there was non-ASCII
        while (p != end) {
            makeRoom(kLongestEscape * 8);
            // As much as the piece has room for even if every byte needed the longest escape.
            const std::size_t run = std::min<std::size_t>(static_cast<std::size_t>(end - p), (kPiece + kSlack - used_) / kLongestEscape);
            char* const start = piece_.data() + used_;
            char* const stop = escape(p, p + run, start, seen);
            used_ += static_cast<std::size_t>(stop - start);
            p += run;
        }
        character('"');
        // Non-ASCII is copied unchecked while escaping; one fast pass afterwards refuses what
        // is not UTF-8 (overlong forms, surrogates, cut sequences), as dump() would.
        return !(seen & kHighBits) || simdjson::validate_utf8(text.data(), text.size());
    }

    static char* escape(const std::uint8_t* p, const std::uint8_t* const end, char* o, std::uint64_t& seen)
    {
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            seen |= word;
            if (needsEscape(word)) {
                for (const auto* const stop = p + 8; p != stop; ++p)
                    o = escapeByte(*p, o);
            } else {
                std::memcpy(o, p, sizeof word);
                p += 8;
                o += 8;
            }
        }
        for (; p != end; ++p) {
            seen |= *p;
            o = escapeByte(*p, o);
        }
        return o;
    }

    static char* escapeByte(std::uint8_t c, char* o)
    {
        const char letter = kEscapes[c];
        if (!letter) {
            *o = static_cast<char>(c);
            return o + 1;
        }
        o[0] = '\\';
        o[1] = letter;
        if (letter != 'u')
            return o + 2;
        o[2] = '0';
        o[3] = '0';
        o[4] = kHexDigits[c >> 4];
        o[5] = kHexDigits[c & 0xF];
        return o + 6;
    }

    template <typename Integer>
    void integer(Integer number)
    {
        makeRoom(24);
        char* const start = piece_.data() + used_;
        used_ += static_cast<std::size_t>(std::to_chars(start, start + 24, number).ptr - start);
    }

    void character(char c)
    {
        makeRoom(1);
        piece_[used_++] = c;
    }

    void text(std::string_view chars)
    {
        while (!chars.empty()) {
            makeRoom(1);
            const std::size_t part = std::min(chars.size(), kPiece + kSlack - used_);
            std::memcpy(piece_.data() + used_, chars.data(), part);
            used_ += part;
            chars.remove_prefix(part);
        }
    }

    // Hands full pieces to Base64, keeping at least `room` bytes free for the next write.
    void makeRoom(std::size_t room)
    {
        if (used_ < kPiece && used_ + room <= kPiece + kSlack)
            return;
        const std::size_t whole = used_ / 3 * 3;
        encodePiece(whole);
        std::memmove(piece_.data(), piece_.data() + whole, used_ - whole);
        used_ -= whole;
    }

    void encodePiece(std::size_t size)
    {
        const std::size_t at = wire_.size();
        wire_.resize(at + base64::encodedSize(size));
        base64::encode({reinterpret_cast<const std::uint8_t*>(piece_.data()), size}, reinterpret_cast<char*>(wire_.data() + at));
    }

    std::array<char, kPiece + kSlack> piece_;
    std::size_t used_ = 0;
    Bytes wire_;
};

} // namespace

std::optional<Bytes> encodeWire(const nlohmann::ordered_json& dictionary, std::span<const std::uint8_t> terminator)
{
    // The writer's piece is too big for a thread's stack.
    auto writer = std::make_unique<WireWriter>(estimatedSize(dictionary), terminator.size());
    if (!writer->value(dictionary))
        return std::nullopt;
    return writer->finish(terminator);
}

} // namespace vd
