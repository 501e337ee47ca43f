#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Bytes.h"

namespace vd::base64 {

// Standard alphabet, padded to a multiple of four characters, no line breaks.
std::string encode(std::span<const std::uint8_t> bytes);
constexpr std::size_t encodedSize(std::size_t byteCount) { return (byteCount + 2) / 3 * 4; }
// The same into `out`, which must hold encodedSize(bytes.size()) characters.
void encode(std::span<const std::uint8_t> bytes, char* out);

// The most bytes `text` can decode to.
constexpr std::size_t decodedSizeBound(std::size_t textLength) { return textLength / 4 * 3; }

// Strict decoding: the length is a multiple of four, every character is of the standard
// alphabet, and '=' appears only as one or two final padding characters. Anything else,
// whitespace and line breaks included, fails.
std::optional<Bytes> decodeStrict(std::string_view text);
// The same into `out`, which must hold decodedSizeBound(text.size()) bytes; returns the count.
std::optional<std::size_t> decodeStrict(std::string_view text, std::uint8_t* out);

} // namespace vd::base64
