#include "JsonWriter.h"

#include <array>
#include <charconv>
#include <cmath>

#include "platform/Base64.h"

namespace vd::har {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence at the start of `bytes`, or 0 when it is not one
// (overlong forms, surrogates and code points past U+10FFFF included).
std::size_t utf8SequenceLength(std::string_view bytes)
{
    const auto lead = static_cast<unsigned char>(bytes[0]);
    std::size_t length = 0;
    unsigned char least = 0x80;
    unsigned char most = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        least = lead == 0xE0 ? 0xA0 : 0x80;
        most = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        least = lead == 0xF0 ? 0x90 : 0x80;
        most = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (bytes.size() < length)
        return 0;
    const auto second = static_cast<unsigned char>(bytes[1]);
    if (second < least || second > most)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if ((static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

bool needsEscape(unsigned char c)
{
    return c < 0x20 || c == '"' || c == '\\' || c >= 0x80;
}

void writeEscaped(std::ostream& out, unsigned char c)
{
    switch (c) {
    case '"': out << "\\\""; return;
    case '\\': out << "\\\\"; return;
    case '\n': out << "\\n"; return;
    case '\r': out << "\\r"; return;
    case '\t': out << "\\t"; return;
    case '\b': out << "\\b"; return;
    case '\f': out << "\\f"; return;
    default: break;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    const std::array<char, 6> escape{'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
    out.write(escape.data(), escape.size());
}

} // namespace

void JsonWriter::open(char bracket)
{
    separate();
    out_.put(bracket);
    filled_.push_back(false);
}

void JsonWriter::close(char bracket)
{
    breakLine();
    filled_.pop_back();
    out_.put(bracket);
}

void JsonWriter::separate()
{
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!filled_.empty()) {
        if (filled_.back())
            out_.put(',');
        filled_.back() = true;
    }
    breakLine();
}

void JsonWriter::breakLine()
{
    if (lineBreak_) {
        out_.put('\n');
        lineBreak_ = false;
    }
}

void JsonWriter::key(std::string_view name)
{
    string(name);
    out_.put(':');
    afterKey_ = true;
}

void JsonWriter::string(std::string_view bytes)
{
    separate();
    out_.put('"');
    std::size_t i = 0;
    while (i < bytes.size()) {
        // Plain runs go out in one piece: a body of text is mostly that.
        std::size_t run = i;
        while (run < bytes.size() && !needsEscape(static_cast<unsigned char>(bytes[run])))
            ++run;
        out_.write(bytes.data() + i, static_cast<std::streamsize>(run - i));
        i = run;
        if (i == bytes.size())
            break;
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            writeEscaped(out_, c);
            ++i;
        } else if (const std::size_t length = utf8SequenceLength(bytes.substr(i)); length > 0) {
            out_.write(bytes.data() + i, static_cast<std::streamsize>(length));
            i += length;
        } else {
            out_ << kReplacement;
            ++i;
        }
    }
    out_.put('"');
}

void JsonWriter::base64(std::span<const std::uint8_t> bytes)
{
    separate();
    out_.put('"');
    // A multiple of three bytes per piece, so only the last one is padded.
    constexpr std::size_t kPiece = 3 * 16 * 1024;
    std::array<char, base64::encodedSize(kPiece)> text{};
    for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
        const auto piece = bytes.subspan(at, std::min(kPiece, bytes.size() - at));
        base64::encode(piece, text.data());
        out_.write(text.data(), static_cast<std::streamsize>(base64::encodedSize(piece.size())));
    }
    out_.put('"');
}

void JsonWriter::number(std::int64_t value)
{
    separate();
    std::array<char, 24> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
    out_.write(text.data(), end - text.data());
}

void JsonWriter::number(double value)
{
    // JSON has no infinities; a time that is not one is no time at all.
    const double rounded = std::isfinite(value) ? std::round(value * 1000) / 1000 : 0.0;
    separate();
    // Room for every digit of the largest double.
    std::array<char, 320> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), rounded == 0 ? 0.0 : rounded,
                                   std::chars_format::fixed, 3).ptr;
    std::string_view written(text.data(), static_cast<std::size_t>(end - text.data()));
    while (written.back() == '0')
        written.remove_suffix(1);
    if (written.back() == '.')
        written.remove_suffix(1);
    out_ << written;
}

void JsonWriter::boolean(bool value)
{
    separate();
    out_ << (value ? "true" : "false");
}

} // namespace vd::har
