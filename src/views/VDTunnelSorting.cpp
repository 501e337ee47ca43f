#include "VDTunnelSorting.h"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string>
#include <string_view>

namespace vd {
namespace {

// One key of every row, in the one type that key has.
class KeyColumn {
public:
    KeyColumn(const TunnelList& rows, TunnelSortDescriptor descriptor) : ascending_(descriptor.ascending)
    {
        const auto each = [&](auto read, auto& into) {
            into.reserve(rows.size());
            for (const auto& row : rows)
                into.push_back(read(*row));
        };
        switch (descriptor.key) {
        case TunnelSortKey::id_: each([](const VDTunnelInfo& t) { return t.id_(); }, ints_); break;
        case TunnelSortKey::processId: each([](const VDTunnelInfo& t) { return t.processId(); }, ints_); break;
        case TunnelSortKey::status: each([](const VDTunnelInfo& t) { return static_cast<std::int64_t>(t.status()); }, ints_); break;
        case TunnelSortKey::tx: each([](const VDTunnelInfo& t) { return t.tx(); }, ints_); break;
        case TunnelSortKey::rx: each([](const VDTunnelInfo& t) { return t.rx(); }, ints_); break;
        case TunnelSortKey::startTime: each([](const VDTunnelInfo& t) { return t.startTime(); }, reals_); break;
        case TunnelSortKey::duration: each([](const VDTunnelInfo& t) { return t.duration(); }, reals_); break;
        case TunnelSortKey::policyName: copyTexts(rows, [](const VDTunnelInfo& t) { return t.policyName(); }); break;
        case TunnelSortKey::host: copyTexts(rows, [](const VDTunnelInfo& t) { return t.host(); }); break;
        case TunnelSortKey::method: copyTexts(rows, [](const VDTunnelInfo& t) { return t.method(); }); break;
        }
    }

    // Negative, zero or positive as row a comes before, with or after row b.
    int compare(std::uint32_t a, std::uint32_t b) const
    {
        int order;
        if (!ints_.empty())
            order = threeWay(ints_[a], ints_[b]);
        else if (!reals_.empty())
            order = threeWay(reals_[a], reals_[b]);
        else
            order = texts_[a].compare(texts_[b]);
        return ascending_ ? order : -order;
    }

private:
    // The texts side by side in one buffer: a sort compares each text many times, and texts
    // scattered over a hundred thousand records would make most comparisons cache misses.
    template <typename Read>
    void copyTexts(const TunnelList& rows, Read read)
    {
        std::vector<std::size_t> ends;
        ends.reserve(rows.size());
        for (const auto& row : rows) {
            buffer_ += read(*row);
            ends.push_back(buffer_.size());
        }
        texts_.reserve(rows.size());
        std::size_t begin = 0;
        for (const auto end : ends) {
            texts_.push_back(std::string_view(buffer_).substr(begin, end - begin));
            begin = end;
        }
    }

    template <typename T>
    static int threeWay(const T& a, const T& b)
    {
        return a < b ? -1 : (b < a ? 1 : 0);
    }

    bool ascending_;
    std::vector<std::int64_t> ints_;
    std::vector<double> reals_;
    std::string buffer_;
    std::vector<std::string_view> texts_;
};

} // namespace

TunnelSortDescriptors withPrimary(TunnelSortDescriptors descriptors, TunnelSortDescriptor primary)
{
    std::erase_if(descriptors, [&](const TunnelSortDescriptor& d) { return d.key == primary.key; });
    descriptors.insert(descriptors.begin(), primary);
    return descriptors;
}

std::vector<std::uint32_t> sortedOrder(const TunnelList& rows, const TunnelSortDescriptors& descriptors)
{
    std::vector<std::uint32_t> order(rows.size());
    std::iota(order.begin(), order.end(), 0U);
    if (descriptors.empty() || rows.size() < 2)
        return order;
    std::vector<KeyColumn> keys;
    keys.reserve(descriptors.size());
    for (const auto& descriptor : descriptors)
        keys.emplace_back(rows, descriptor);
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        for (const auto& key : keys) {
            if (const int c = key.compare(a, b))
                return c < 0;
        }
        return false;
    });
    return order;
}

void sortTunnels(TunnelList& rows, const TunnelSortDescriptors& descriptors)
{
    if (descriptors.empty())
        return;
    TunnelList sorted;
    sorted.reserve(rows.size());
    for (const auto index : sortedOrder(rows, descriptors))
        sorted.push_back(std::move(rows[index]));
    rows = std::move(sorted);
}

} // namespace vd
