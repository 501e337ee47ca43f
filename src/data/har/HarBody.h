#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "JsonWriter.h"
#include "data/ContentDecoding.h"
#include "platform/Bytes.h"

namespace vd::har {

// The body of one captured message, as the log shows it.
struct MessageBody {
    // As it followed the header block, chunk framing undone: what "bodySize" counts.
    Bytes wire;
    // The content coding undone; empty when the message had none or it could not be undone.
    Bytes decoded;
    bool showsDecoded = false;
    // Why the content is not the whole decoded body (a coding that failed or a body past the
    // cap); empty when it is.
    std::string problem;

    // What the log shows: the decoded body, or the wire bytes when decoding failed or stopped at
    // the cap (a bomb's first 256 MiB of zeros would make a log entry of gigabytes).
    std::span<const std::uint8_t> content() const { return showsDecoded ? decoded : wire; }
};

// Cuts the body out of a captured message (`response` picks the parser) and undoes
// `contentEncoding` up to `cap`. A message cut short, or one without a body, gives an empty body.
MessageBody messageBodyOf(std::span<const std::uint8_t> captured, bool response, std::string_view contentEncoding,
                          std::size_t cap = kDecodedBodyCap);

// "text", and "encoding": "base64" when the bytes are not UTF-8.
void writeText(JsonWriter& json, std::span<const std::uint8_t> bytes);

} // namespace vd::har
