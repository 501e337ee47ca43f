#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "QNComPacket.h"

namespace vd {

// A packet as it came off the link, decoded and checked but for one thing: the record texts of a
// report (the strings of the array "tunnels" of "d") are left as the wire carries them, escaped,
// between their quotes. Nearly all of a busy service's bytes are those texts, and most of them
// are byte for byte what the previous report held: a reader compares them as they stand and
// undoes the escapes only of the ones it reads, with unescapeText.
//
// The texts are read in the decoding thread's buffer and are good only until that thread
// decodes again: a receiver gets the packet for the length of one call.
class ReceivedPacket {
public:
    static constexpr std::string_view kTextsKey = "tunnels";

    // Decodes exactly one wire form as QNComPacket::initWithData does: the same packets fail,
    // with the same log lines, but for an escape JSON does not allow inside a record text,
    // which only unescaping that text finds.
    static std::optional<ReceivedPacket> decode(std::span<const std::uint8_t> bytes);

    // The packet with each record text's place in its array held by a null.
    const QNComPacket& withoutTexts() const { return withoutTexts_; }
    // The record texts in order, escaped, where the dictionary would hold them: the last "d",
    // its last "tunnels", the strings of that array.
    std::span<const std::string_view> texts() const { return texts_; }

    // Moves the whole packet out, texts unescaped in their places; none when a text does not
    // unescape, logged as a packet that does not decode.
    std::optional<QNComPacket> takePacket();

    // `escaped`, the inside of a JSON string, unescaped into `out`, which keeps room after the
    // text for a JSON parser to read it in place; false, logged as a packet that does not
    // decode, for an escape JSON does not allow.
    static bool unescapeText(std::string_view escaped, std::string& out);
    // `text`, which must be UTF-8, as a report may carry it: the inside of a JSON string.
    static std::string escapeText(std::string_view text);

private:
    ReceivedPacket() = default;

    QNComPacket withoutTexts_;
    std::vector<std::string_view> texts_;
    // Each text's index in its array.
    std::vector<std::uint32_t> places_;
};

} // namespace vd
