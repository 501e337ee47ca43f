#include "VDColumnSorting.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <span>
#include <type_traits>

namespace vd {
namespace {

// Below this many rows sorting in place beats the passes over the bytes and a merge sort.
constexpr std::size_t kFewRows = 32;

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

// Ties of the column before are mostly a few rows each, tens of thousands of them in a list:
// sorted in place, as a merge sort's buffer for each would cost more than the sorting.
void insertionSort(std::span<std::uint32_t> rows, const SortKeyColumn& key)
{
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const std::uint32_t row = rows[i];
        std::size_t j = i;
        for (; j > 0 && key.compare(row, rows[j - 1]) < 0; --j)
            rows[j] = rows[j - 1];
        rows[j] = row;
    }
}

// Calls `use` with each run of more than one row that `equal` finds alike, in order.
template <typename Equal, typename Use>
void forEachRun(std::span<std::uint32_t> rows, Equal equal, Use use)
{
    for (std::size_t first = 0; first < rows.size();) {
        std::size_t end = first + 1;
        while (end < rows.size() && equal(rows[first], rows[end]))
            ++end;
        if (end - first > 1)
            use(rows.subspan(first, end - first));
        first = end;
    }
}

void sortByColumn(std::span<std::uint32_t> rows, const SortKeyColumn& key)
{
    if (rows.size() < kFewRows)
        insertionSort(rows, key);
    else if (key.holdsTexts())
        std::stable_sort(rows.begin(), rows.end(), [&](std::uint32_t a, std::uint32_t b) { return key.compare(a, b) < 0; });
    else
        sortByOrdinals(rows, key);
}

void sortByColumnsFrom(std::span<std::uint32_t> rows, std::span<const SortKeyColumn* const> keys)
{
    const SortKeyColumn& key = *keys.front();
    sortByColumn(rows, key);
    if (keys.size() == 1)
        return;
    forEachRun(rows, [&](std::uint32_t a, std::uint32_t b) { return key.compare(a, b) == 0; },
               [&](std::span<std::uint32_t> run) { sortByColumnsFrom(run, keys.subspan(1)); });
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
    slots_.reserve(rows);
}

void SortKeyColumn::reorder(const std::vector<std::uint32_t>& order)
{
    const auto gather = [&](auto& keys) {
        std::remove_reference_t<decltype(keys)> reordered(keys.size());
        std::transform(order.begin(), order.end(), reordered.begin(), [&](std::uint32_t row) { return keys[row]; });
        keys.swap(reordered);
    };
    if (holdsTexts())
        gather(slots_);
    else
        gather(ordinals_);
}

void SortKeyColumn::setAscending(bool ascending)
{
    if (ascending == ascending_)
        return;
    ascending_ = ascending;
    // Complemented, the ordinals sort the other way and equal ones stay equal.
    for (auto& ordinal : ordinals_)
        ordinal = ~ordinal;
}

std::size_t SortKeyColumn::heldBytes() const
{
    return sizeof(*this) + ordinals_.capacity() * sizeof(std::uint64_t) + texts_.capacity() +
           textStarts_.capacity() * sizeof(std::size_t) + slots_.capacity() * sizeof(std::uint32_t);
}

std::vector<std::uint32_t> stableOrder(std::size_t rows, const std::vector<const SortKeyColumn*>& keys)
{
    std::vector<std::uint32_t> order(rows);
    std::iota(order.begin(), order.end(), 0U);
    if (!keys.empty() && rows > 1)
        sortByColumnsFrom(order, keys);
    return order;
}

} // namespace vd
