#pragma once

#include <cstdint>

namespace vd {

// A stretch of a view's content in the view's own units: characters of a text, bytes of a dump.
struct VDTextRange {
    std::int64_t start = 0;
    std::int64_t length = 0;

    std::int64_t end() const { return start + length; }
    bool operator==(const VDTextRange&) const = default;
};

} // namespace vd
