#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vd {

// " 00 01 ... 07  08 ... 0F  \n 10 ..." — sixteen bytes a line, a gap after eight, capital
// digits. Written a line at a time with vector shuffles where the processor has them, into
// text placed on large pages when it is big.
std::string hexDumpOf(std::span<const std::uint8_t> data);

} // namespace vd
