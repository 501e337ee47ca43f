#include "VDColumnSorting.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <span>

namespace vd {
namespace {

// Below this many rows a comparison sort beats the passes over the bytes.
constexpr std::size_t kFewRows = 64;

struct KeyedRow {
    std::uint64_t ordinal;
    std::uint32_t row;
};

// A stable sort of rows by their number keys, one pass per byte in which the ordinals differ:
// counters, dates and ids of a list usually share their high bytes, which then cost nothing.
void sortByOrdinals(std::span<std::uint32_t> rows, const SortKeyColumn& key)
{
    std::vector<KeyedRow> items(rows.size());
    std::uint64_t all = ~std::uint64_t{0};
    std::uint64_t any = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        items[i] = {key.ordinal(rows[i]), rows[i]};
        all &= items[i].ordinal;
        any |= items[i].ordinal;
    }
    const std::uint64_t differing = all ^ any;
    std::vector<KeyedRow> scratch(items.size());
    for (int shift = 0; shift < 64; shift += 8) {
        if (((differing >> shift) & 0xFF) == 0)
            continue;
        std::array<std::size_t, 257> starts{};
        for (const auto& item : items)
            ++starts[((item.ordinal >> shift) & 0xFF) + 1];
        std::partial_sum(starts.begin(), starts.end(), starts.begin());
        for (const auto& item : items)
            scratch[starts[(item.ordinal >> shift) & 0xFF]++] = item;
        items.swap(scratch);
    }
    std::transform(items.begin(), items.end(), rows.begin(), [](const KeyedRow& item) { return item.row; });
}

void sortByColumn(std::span<std::uint32_t> rows, const SortKeyColumn& key)
{
    if (key.holdsTexts() || rows.size() < kFewRows)
        std::stable_sort(rows.begin(), rows.end(), [&](std::uint32_t a, std::uint32_t b) { return key.compare(a, b) < 0; });
    else
        sortByOrdinals(rows, key);
}

void sortByColumnsFrom(std::span<std::uint32_t> rows, std::span<const SortKeyColumn> keys)
{
    const SortKeyColumn& key = keys.front();
    sortByColumn(rows, key);
    if (keys.size() == 1)
        return;
    for (std::size_t first = 0; first < rows.size();) {
        std::size_t end = first + 1;
        while (end < rows.size() && key.compare(rows[first], rows[end]) == 0)
            ++end;
        if (end - first > 1)
            sortByColumnsFrom(rows.subspan(first, end - first), keys.subspan(1));
        first = end;
    }
}

} // namespace

ColumnSortDescriptors withPrimaryColumn(ColumnSortDescriptors descriptors, ColumnSortDescriptor primary)
{
    std::erase_if(descriptors, [&](const ColumnSortDescriptor& d) { return d.column == primary.column; });
    descriptors.insert(descriptors.begin(), primary);
    return descriptors;
}

SortKeyColumn::SortKeyColumn(bool ascending, std::size_t rows) : ascending_(ascending)
{
    ordinals_.reserve(rows);
    textStarts_.reserve(rows + 1);
}

std::vector<std::uint32_t> stableOrder(std::size_t rows, const std::vector<SortKeyColumn>& keys)
{
    std::vector<std::uint32_t> order(rows);
    std::iota(order.begin(), order.end(), 0U);
    if (!keys.empty() && rows > 1)
        sortByColumnsFrom(order, keys);
    return order;
}

} // namespace vd
