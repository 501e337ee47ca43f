#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/Bytes.h"

namespace vd::sim {

// Bodies coded by the real encoders, as a web server would send them.
Bytes gzipOf(std::span<const std::uint8_t> body, int level = 6);
// deflate as servers disagree on it: zlib-wrapped (the standard) or raw.
Bytes zlibOf(std::span<const std::uint8_t> body);
Bytes rawDeflateOf(std::span<const std::uint8_t> body);
Bytes brotliOf(std::span<const std::uint8_t> body);
Bytes zstdOf(std::span<const std::uint8_t> body);
// gzip of `size` zero bytes, made in slices so the plain body is never held whole.
Bytes gzippedZeros(std::size_t size);

} // namespace vd::sim
