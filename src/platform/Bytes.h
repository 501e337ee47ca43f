#pragma once

#include <cstdint>
#include <vector>

namespace vd {

// Raw bytes as they travel over a link or sit in a file.
using Bytes = std::vector<std::uint8_t>;

} // namespace vd
