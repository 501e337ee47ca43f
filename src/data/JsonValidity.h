#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vd {

// Readable bytes a text to check must have after its end, of any value: the parser reads ahead
// in whole vector words.
inline constexpr std::size_t kJsonPadding = 64;

// Why a text is not one JSON value, or empty when it is one, checked by simdjson. Numbers are
// judged by their grammar only: JSON allows 1E400 and integers beyond 64 bits, which simdjson
// refuses to convert. `json` is followed by kJsonPadding readable bytes.
std::string jsonProblemOf(std::string_view json);

} // namespace vd
