#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QImage>
#include <QString>

#include "VDLongTextView.h"
#include "data/PrettyBody.h"
#include "platform/Bytes.h"

namespace vd {

// The ways a body view can show a body. Raw is the body as the parser cut it out of its message;
// the others are offered where they apply.
enum class VDBodyMode { raw, decoded, pretty, image };

// A body and what its message's head says about it.
struct VDBodyFacts {
    std::shared_ptr<const Bytes> body;
    std::string contentType;
    std::string contentEncoding;
};

// The modes that apply to a body, Raw first: Decoded where a content coding was applied, Pretty
// where the media type (or, for an uncoded body, its first bytes) names a readable form, Image
// where the media type is an image or an uncoded body's first bytes are one.
std::vector<VDBodyMode> applicableModes(const VDBodyFacts& facts);

// What a mode shows, worked out off the GUI thread.
struct VDModeContent {
    // Text to show; JSON colours its tokens. A text too large for an editor widget comes with
    // its painted lines already cut.
    std::optional<QString> text;
    std::shared_ptr<const VDLongTextView::Lines> lines;
    bool json = false;
    // Bytes shown as a hex dump when they are not text.
    std::shared_ptr<const Bytes> hex;
    std::vector<std::pair<std::string, std::string>> formFields;
    QImage image;
    // One line above the content: why the mode fell short, or what the image is.
    QString note;
    // The bytes that "Export Decoded…" writes (Decoded mode).
    std::shared_ptr<const Bytes> decoded;
};

// Largest image decoded, in pixels: a few bytes of PNG can claim a picture of gigabytes.
inline constexpr qint64 kLargestImagePixels = 64LL * 1000 * 1000;

VDModeContent contentOf(VDBodyMode mode, const VDBodyFacts& facts);

} // namespace vd
