#pragma once

#include <memory>
#include <optional>
#include <string>

#include <QString>

#include "VDLongTextView.h"
#include "platform/Bytes.h"

namespace vd {

// What a body view shows for one delivery of captured bytes. Parsing and decoding are pure, so
// a large delivery can be worked out off the GUI thread and shown there afterwards.
struct VDShownBody {
    // False when the parser gave no answer (a message cut short, or one without a body): the
    // view keeps what it shows.
    bool answered = false;
    // None or empty: there is nothing to show.
    std::shared_ptr<const Bytes> body;
    // The body as text when it is valid, non-empty UTF-8; else it is shown as a hex dump.
    std::optional<QString> text;
    // A text too large for an editor widget comes with its painted lines already cut.
    std::shared_ptr<const VDLongTextView::Lines> lines;
    // What the message's head says of the body: its media type and content codings.
    std::string contentType;
    std::string contentEncoding;
};

// Strict UTF-8: an invalid sequence makes the bytes binary, never a replacement character.
// Empty bytes are no text either.
std::optional<QString> strictUtf8(const Bytes& bytes);

// Cuts the body out of one captured message with a fresh parser (1 a response, 0 a request)
// and decodes it strictly as UTF-8: an invalid sequence makes it binary, never a replacement
// character.
VDShownBody decodeBody(int parserType, const std::optional<Bytes>& captured);

} // namespace vd
