#pragma once

#include <string>
#include <vector>

namespace vd {

// A piece of styled text, independent of any toolkit: the views turn runs into their own
// styled text (bold or regular system font of 12 points).
struct TextRun {
    std::string text;
    bool bold = false;

    bool operator==(const TextRun&) const = default;
};

using StyledText = std::vector<TextRun>;

} // namespace vd
