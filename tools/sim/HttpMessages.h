#pragma once

#include <cstdint>
#include <string>

namespace vd::sim {

// What a captured HTTP message carries after its header block.
enum class BodyKind : std::uint8_t {
    None,
    Json,    // application/json with Content-Length
    Html,    // text/html with Content-Length
    Png,     // a real PNG image
    Gzip,    // JSON sent with Content-Encoding: gzip
    Chunked, // newline-delimited JSON events with Transfer-Encoding: chunked
    Form,    // a URL-encoded form, for requests
};

// The body bytes exactly as they follow the header block on the wire (chunk framing and
// compression included). The same kind and seed always give the same bytes, so a tunnel keeps
// only these two and its body is made again whenever a client asks for it.
std::string makeBody(BodyKind kind, std::uint64_t seed);

// The header lines (each ending in CRLF) that announce such a body of `length` wire bytes.
std::string bodyHeaderLines(BodyKind kind, std::size_t length);

} // namespace vd::sim
