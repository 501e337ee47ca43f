#include "VDShownGeneration.h"

#include <utility>

#include "data/VDDataManager.h"

namespace vd {

VDShownGeneration::VDShownGeneration(std::string idString, std::initializer_list<Part> parts)
    : idString_(std::move(idString)), parts_(parts)
{
}

std::uint64_t VDShownGeneration::newest() const
{
    // Looked up each time: the window binds its processor after its views are made, and may
    // bind another one later.
    const auto generations = VDDataManager::sharedInstance().generationsOfId(idString_);
    return generations ? generations->newest(parts_) : VDListGenerations::kUnchanged;
}

bool VDShownGeneration::isCurrent() const
{
    return newest() == shown_.load(std::memory_order_acquire);
}

std::optional<std::uint64_t> VDShownGeneration::behind() const
{
    const std::uint64_t generation = newest();
    if (generation == shown_.load(std::memory_order_acquire))
        return std::nullopt;
    return generation;
}

} // namespace vd
