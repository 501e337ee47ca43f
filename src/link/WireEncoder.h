#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include <nlohmann/json.hpp>

#include "platform/Bytes.h"

namespace vd {

// The wire text of a packet's dictionary followed by `terminator`: its compact JSON, byte for
// byte what nlohmann's dump() writes (non-ASCII kept as UTF-8), in Base64. The JSON is written
// in cache-sized pieces that go to Base64 at once, so a report of tens of megabytes never
// exists as one JSON text. Nothing when a string or key is not valid UTF-8, which dump()
// refuses as well.
std::optional<Bytes> encodeWire(const nlohmann::ordered_json& dictionary, std::span<const std::uint8_t> terminator);

} // namespace vd
