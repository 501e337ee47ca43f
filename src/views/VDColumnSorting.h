#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace vd {

// A typed value a column sorts by: numbers numerically, dates as seconds, texts by their bytes.
using SortValue = std::variant<std::int64_t, double, std::string>;

// One clicked column of a table whose every sortable column has exactly one sort key.
struct ColumnSortDescriptor {
    int column = 0;
    bool ascending = true;
    bool operator==(const ColumnSortDescriptor&) const = default;
};
// The most recently clicked column first; the ones clicked before it break its ties.
using ColumnSortDescriptors = std::vector<ColumnSortDescriptor>;

// The order after a click: the column moves to the front with its new direction.
ColumnSortDescriptors withPrimaryColumn(ColumnSortDescriptors descriptors, ColumnSortDescriptor primary);

// Sorts rows by keys read once per row and column, not once per comparison. Stable: rows that
// compare equal keep their order. Entry i of the result is the current row that goes to row i.
// `keys[d][row]` is the key of descriptor d for that row.
std::vector<std::uint32_t> orderByKeys(const std::vector<std::vector<SortValue>>& keys, const ColumnSortDescriptors& descriptors);

template <typename Row, typename KeyOf>
std::vector<std::uint32_t> sortedOrderOf(const std::vector<Row>& rows, const ColumnSortDescriptors& descriptors, KeyOf keyOf)
{
    std::vector<std::vector<SortValue>> keys(descriptors.size());
    for (std::size_t d = 0; d < descriptors.size(); ++d) {
        keys[d].reserve(rows.size());
        for (const auto& row : rows)
            keys[d].push_back(keyOf(row, descriptors[d].column));
    }
    return orderByKeys(keys, descriptors);
}

} // namespace vd
