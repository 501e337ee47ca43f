#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vd {

// The head of a captured HTTP message: its start line and header lines, each with its line
// break, without the blank line that ends them. A message cut short inside its head is all
// head. Lines may end in CRLF or, leniently, in a bare LF.
std::string_view headerBlockOf(std::span<const std::uint8_t> capturedMessage);

// Every value of the named field (case-insensitive) in a header block, trimmed, in order and
// joined by ", " as HTTP allows for list fields; empty when the field is absent. Lines that are
// not fields (a start line, a section title) are passed over, and a folded continuation line
// belongs to the field above it.
std::string headerValues(std::string_view headerBlock, std::string_view name);

// One "Name: value" line of a header block, viewed where the block keeps it.
struct HeaderField {
    std::string_view name;
    std::string_view value;
};
// The fields of a header block in order, trimmed, as written (a folded line is passed over: the
// form was retired because senders rarely got it right), up to the blank line that ends it.
std::vector<HeaderField> headerFields(std::string_view headerBlock);

} // namespace vd
