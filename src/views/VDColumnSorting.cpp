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

SortKeyColumn::SortKeyColumn(bool ascending, std::size_t rows) : ascending_(ascending)
{
    ints_.reserve(rows);
    reals_.reserve(rows);
    textStarts_.reserve(rows + 1);
}

std::vector<std::uint32_t> stableOrder(std::size_t rows, const std::vector<SortKeyColumn>& keys)
{
    std::vector<std::uint32_t> order(rows);
    std::iota(order.begin(), order.end(), 0U);
    if (keys.empty())
        return order;
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        for (const auto& key : keys) {
            if (const int c = key.compare(a, b))
                return c < 0;
        }
        return false;
    });
    return order;
}

} // namespace vd
