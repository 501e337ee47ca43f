#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace vd::json {

// Undoes the escapes of the inside of a JSON string when they are all one-letter escapes
// (\" \\ \/ \b \f \n \r \t), writing the text to `out`, which has room for `escaped.size()`
// bytes apart from `escaped`. Nothing is read or written past either end; what `out` holds past
// the size given is of no meaning.
//
// A report's record texts are JSON themselves, with an escaped quote every few bytes; this
// undoes a whole block of escapes at a time where the processor has the instructions for it.
// It gives none, leaving the text to a full unescaper, for a text it does not handle alone: one
// with a \u escape, an escape JSON does not have, a quote or a backslash that ends it, or on a
// processor without those instructions. What it does give is what any JSON unescaper gives.
std::optional<std::size_t> unescapeShortEscapes(std::string_view escaped, char* out);

} // namespace vd::json
