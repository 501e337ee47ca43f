#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

namespace vd::record {

// Where a string lives inside a record's one buffer; an absent string has no place at all.
// Apart from the record readers, so that whoever only holds records never sees the parser.
struct Slice {
    std::uint32_t offset = 0;
    std::uint32_t length = kAbsent;

    static constexpr std::uint32_t kAbsent = std::numeric_limits<std::uint32_t>::max();
    bool present() const { return length != kAbsent; }
    std::string_view in(std::string_view buffer) const { return present() ? buffer.substr(offset, length) : std::string_view(); }
};

} // namespace vd::record
