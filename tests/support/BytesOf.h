#pragma once

#include <string_view>

#include "platform/Bytes.h"

namespace vd::test {

// The bytes of a text, for tests that write bodies and packets as string literals.
inline Bytes bytesOf(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

} // namespace vd::test
