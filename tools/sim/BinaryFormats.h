#pragma once

#include <cstdint>
#include <span>

#include "platform/Bytes.h"

namespace vd::sim {

// The checksums that PNG, zlib and gzip streams carry.
std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);
std::uint32_t adler32(std::span<const std::uint8_t> bytes);

// Real image and archive files without a compression library: the deflate streams inside use
// stored (uncompressed) blocks, which every decoder must accept. Our images are tiny and the
// archives are there to be recognised and unpacked, not to be small.

// An RGBA image, 8 bits per channel, rows top to bottom (width * height * 4 bytes).
Bytes encodePng(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> rgba);
// A gzip member holding `data`, with no name and no time stamp.
Bytes encodeGzip(std::span<const std::uint8_t> data);

} // namespace vd::sim
