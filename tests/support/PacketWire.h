#pragma once

#include <string_view>

#include "platform/Base64.h"
#include "platform/Bytes.h"

namespace vd::test {

// A packet as the wire carries it: its text (Base64, or what passes for it) and the terminator.
inline Bytes wireOf(std::string_view text)
{
    Bytes wire(text.begin(), text.end());
    wire.insert(wire.end(), {0xDB, 0xBC});
    return wire;
}

// The packet of a JSON text as written, so a test can send text no encoder would make.
inline Bytes wireOfJson(std::string_view json)
{
    return wireOf(base64::encode({reinterpret_cast<const std::uint8_t*>(json.data()), json.size()}));
}

} // namespace vd::test
