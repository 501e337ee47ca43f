#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/Bytes.h"

namespace vd {

// A decoded body is never allowed past this: a few hundred bytes of gzip can claim gigabytes.
inline constexpr std::size_t kDecodedBodyCap = 256u * 1024 * 1024;

struct DecodedContent {
    enum class Outcome { decoded, capped, failed };
    Outcome outcome = Outcome::decoded;
    // Everything decoded, up to the cap; after a failure, what the decoding got to.
    Bytes bytes;
    // One line for the user whenever the outcome is not `decoded`.
    std::string problem;
};

// Undoes a Content-Encoding value: "gzip" (or "x-gzip"), "deflate" (zlib-wrapped, or raw as some
// servers send it), "br", "zstd", "identity", or several of them stacked ("gzip, br"), which
// were applied in the order listed and so are undone from the last. Names are case-insensitive.
// The output is checked against the cap as it grows, so a bomb never allocates past it.
// An empty body stays empty whatever the coding claims (HEAD and 304 answers keep the header).
DecodedContent decodeContent(std::span<const std::uint8_t> body, std::string_view contentEncoding,
                             std::size_t cap = kDecodedBodyCap);

} // namespace vd
