#include "VDListGenerations.h"

#include <algorithm>

namespace vd {
namespace {

std::atomic<std::uint64_t> lastStamp{VDListGenerations::kUnchanged};

} // namespace

std::uint64_t VDListGenerations::newest(std::span<const Part> parts) const
{
    std::uint64_t stamp = kUnchanged;
    for (const Part part : parts)
        stamp = std::max(stamp, stamps_[part].load(std::memory_order_acquire));
    return stamp;
}

void VDListGenerations::bump(Part part)
{
    // The caller's lock orders the stamps of one processor; the count only needs to hand out
    // each number once.
    const std::uint64_t stamp = lastStamp.fetch_add(1, std::memory_order_relaxed) + 1;
    stamps_[part].store(stamp, std::memory_order_release);
}

} // namespace vd
