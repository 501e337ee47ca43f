#pragma once

#include <cstdint>
#include <vector>

#include "VDTunnelColumns.h"
#include "data/VDDataProcesser.h"

namespace vd {

struct TunnelSortDescriptor {
    TunnelSortKey key;
    bool ascending = true;
    bool operator==(const TunnelSortDescriptor&) const = default;
};
// The most recently chosen key first; the ones chosen before it break its ties.
using TunnelSortDescriptors = std::vector<TunnelSortDescriptor>;

// The order after a click on a column: its key moves to the front with the new direction, the
// earlier keys stay behind it as tie-breakers.
TunnelSortDescriptors withPrimary(TunnelSortDescriptors descriptors, TunnelSortDescriptor primary);

// Sorts by typed keys read once per record (numbers numerically, dates chronologically, texts by
// their bytes), so a sort costs one read per record and key, and an active tunnel's growing
// duration cannot change between two comparisons. Stable: equal records keep their order.
void sortTunnels(TunnelList& rows, const TunnelSortDescriptors& descriptors);
// The same order as a permutation: entry i is the current row that goes to row i.
std::vector<std::uint32_t> sortedOrder(const TunnelList& rows, const TunnelSortDescriptors& descriptors);

} // namespace vd
