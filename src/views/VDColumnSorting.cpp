#include "VDColumnSorting.h"

#include <algorithm>
#include <numeric>

namespace vd {

ColumnSortDescriptors withPrimaryColumn(ColumnSortDescriptors descriptors, ColumnSortDescriptor primary)
{
    std::erase_if(descriptors, [&](const ColumnSortDescriptor& d) { return d.column == primary.column; });
    descriptors.insert(descriptors.begin(), primary);
    return descriptors;
}

std::vector<std::uint32_t> orderByKeys(const std::vector<std::vector<SortValue>>& keys, const ColumnSortDescriptors& descriptors)
{
    const std::size_t count = keys.empty() ? 0 : keys.front().size();
    std::vector<std::uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0U);
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        for (std::size_t d = 0; d < descriptors.size(); ++d) {
            const SortValue& x = keys[d][a];
            const SortValue& y = keys[d][b];
            if (x == y)
                continue;
            return descriptors[d].ascending ? x < y : y < x;
        }
        return false;
    });
    return order;
}

} // namespace vd
