#include "VDColumnSorting.h"

#include <algorithm>
#include <numeric>

namespace vd {
namespace {

template <typename T>
int threeWay(const T& a, const T& b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
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
    textStarts_.reserve(rows + 1);
}

void SortKeyColumn::append(const SortKey& key)
{
    switch (key.index()) {
    case 0: ints_.push_back(std::get<std::int64_t>(key)); break;
    case 1: reals_.push_back(std::get<double>(key)); break;
    case 2: appendText(std::get<std::string_view>(key)); break;
    default: appendText(std::get<std::string>(key)); break;
    }
}

void SortKeyColumn::appendText(std::string_view text)
{
    texts_ += text;
    textStarts_.push_back(texts_.size());
}

int SortKeyColumn::compare(std::uint32_t a, std::uint32_t b) const
{
    int order;
    if (!ints_.empty()) {
        order = threeWay(ints_[a], ints_[b]);
    } else if (!reals_.empty()) {
        order = threeWay(reals_[a], reals_[b]);
    } else {
        order = text(a).compare(text(b));
    }
    return ascending_ ? order : -order;
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
