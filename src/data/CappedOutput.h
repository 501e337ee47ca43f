#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/Bytes.h"

namespace vd {

// The output buffer of a streaming decoder that must stop at a cap. Decoders write into room()
// and say how much they wrote; once the cap is full, room() is a single probe byte, and a
// decoder that still writes there had more to give: the output overflowed and was cut at the
// cap. So the buffer never grows past the cap, and output that ends exactly at it is whole.
class CappedOutput {
public:
    // `expected` is a first guess at the size, which saves regrowing for the usual ratios.
    CappedOutput(std::size_t cap, std::size_t expected);

    // A better guess, from the coded data itself, before anything is written.
    void expect(std::size_t size);

    std::span<std::uint8_t> room();
    // `written` bytes of the last room() now hold output.
    void commit(std::size_t written);

    bool overflowed() const { return overflowed_; }
    std::size_t size() const { return used_; }
    void clear();
    Bytes take();

private:
    Bytes buffer_;
    std::size_t used_ = 0;
    std::size_t cap_;
    std::uint8_t probe_ = 0;
    bool probing_ = false;
    bool overflowed_ = false;
};

} // namespace vd
