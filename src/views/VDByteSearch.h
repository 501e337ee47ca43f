#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include <QString>

#include "platform/Bytes.h"

namespace vd {

// What a query means in a hex dump: the bytes its hex digits spell when it looks like them
// ("1F 8B", "1f8b": an even count of digits, spaces allowed), else its text as UTF-8, where
// ASCII letters match either case as they do in the text views.
struct VDBytePattern {
    Bytes bytes;
    bool ignoreCase = false;
};

VDBytePattern bytePatternOf(const QString& query);

// Finds a byte pattern in either direction; a dump of 16 MiB is searched in milliseconds.
class VDByteFinder {
public:
    explicit VDByteFinder(VDBytePattern pattern);

    // The first match starting at `from` or later.
    std::optional<std::size_t> forward(std::span<const std::uint8_t> bytes, std::size_t from) const;
    // The last match starting before `before`.
    std::optional<std::size_t> backward(std::span<const std::uint8_t> bytes, std::size_t before) const;
    std::size_t length() const { return pattern_.size(); }

private:
    // Whether the pattern's bytes after the first are at `at` + 1 on.
    bool matchesAt(std::span<const std::uint8_t> bytes, std::size_t at) const;

    // How a byte reads in a comparison: itself, or its lower case.
    std::array<std::uint8_t, 256> fold_{};
    // The pattern as it reads.
    Bytes pattern_;
    // Whether folding can change nothing for this pattern.
    bool exact_ = false;
};

} // namespace vd
