#pragma once

#include <cstdint>
#include <span>

#include "ContentDecoding.h"

namespace vd {

// The body of a captured HTTP message alone, as the application meant it: cut from the message
// with its chunked transfer coding undone, then its Content-Encoding undone under the cap. A
// message without a body gives no bytes; one whose body cannot be cut (framing cut short or
// broken) fails without any.
DecodedContent decodedBodyOf(std::span<const std::uint8_t> capturedMessage, bool request, std::size_t cap = kDecodedBodyCap);

} // namespace vd
