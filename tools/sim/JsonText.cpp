#include "JsonText.h"

#include <charconv>

#include "link/QNComPacket.h"
#include "platform/Base64.h"

namespace vd::sim {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void appendInteger(std::string& out, std::int64_t value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

} // namespace

void appendJsonEscaped(std::string& out, std::string_view text)
{
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "\\u00";
                out += kHexDigits[(c >> 4) & 0xF];
                out += kHexDigits[c & 0xF];
            } else {
                out += c;
            }
        }
    }
}

void appendSeconds(std::string& out, std::int64_t milliseconds)
{
    if (milliseconds < 0) {
        out += '-';
        milliseconds = -milliseconds;
    }
    appendInteger(out, milliseconds / 1000);
    const auto fraction = static_cast<int>(milliseconds % 1000);
    out += '.';
    out += static_cast<char>('0' + fraction / 100);
    out += static_cast<char>('0' + fraction / 10 % 10);
    out += static_cast<char>('0' + fraction % 10);
}

void NestedObjectWriter::key(std::string_view name)
{
    if (!first_)
        out_ += ',';
    first_ = false;
    out_ += "\\\"";
    out_ += name; // our own key names, which need no escaping
    out_ += "\\\":";
}

void NestedObjectWriter::string(std::string_view name, std::string_view value)
{
    key(name);
    out_ += "\\\"";
    // Each character is escaped for the inner text, and that escape again for the outer one.
    for (const char c : value) {
        switch (c) {
        case '"': out_ += "\\\\\\\""; break;
        case '\\': out_ += "\\\\\\\\"; break;
        case '\n': out_ += "\\\\n"; break;
        case '\r': out_ += "\\\\r"; break;
        case '\t': out_ += "\\\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out_ += "\\\\u00";
                out_ += kHexDigits[(c >> 4) & 0xF];
                out_ += kHexDigits[c & 0xF];
            } else {
                out_ += c;
            }
        }
    }
    out_ += "\\\"";
}

void NestedObjectWriter::integer(std::string_view name, std::int64_t value)
{
    key(name);
    appendInteger(out_, value);
}

void NestedObjectWriter::boolean(std::string_view name, bool value)
{
    key(name);
    out_ += value ? "true" : "false";
}

void NestedObjectWriter::seconds(std::string_view name, std::int64_t milliseconds)
{
    key(name);
    appendSeconds(out_, milliseconds);
}

Bytes wireFromJson(std::string_view json)
{
    Bytes wire(base64::encodedSize(json.size()) + 2);
    base64::encode({reinterpret_cast<const std::uint8_t*>(json.data()), json.size()}, reinterpret_cast<char*>(wire.data()));
    wire[wire.size() - 2] = QNComPacket::kTerminator[0];
    wire[wire.size() - 1] = QNComPacket::kTerminator[1];
    return wire;
}

} // namespace vd::sim
