#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "CappedOutput.h"

namespace vd {

// How one decoder's pass over a whole coded body ended.
struct StreamEnd {
    enum class Kind { complete, capped, cutShort, damaged };
    Kind kind = Kind::complete;
    // The library's own words on damaged data, where it has readable ones.
    std::string detail;
};

// Each decodes all of `coded` into `out`, stopping when `out` overflows its cap.
// gzip: every member of a concatenated file; bytes after the last member are ignored.
StreamEnd gunzipStream(std::span<const std::uint8_t> coded, CappedOutput& out);
// deflate: zlib-wrapped, or raw where the zlib header is missing or leads nowhere.
StreamEnd inflateStream(std::span<const std::uint8_t> coded, CappedOutput& out);
StreamEnd brotliStream(std::span<const std::uint8_t> coded, CappedOutput& out);
// zstd: every frame of the body.
StreamEnd zstdStream(std::span<const std::uint8_t> coded, CappedOutput& out);

} // namespace vd
