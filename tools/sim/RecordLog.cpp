#include "RecordLog.h"

#include <algorithm>

namespace vd::sim {

void RecordLog::add(Record record)
{
    records_.push_back(std::move(record));
    if (records_.size() > TrafficModel::kRecentLimit)
        records_.pop_front();
}

std::string RecordLog::texts(const TrafficModel::RecentRange& range) const
{
    auto first = std::lower_bound(records_.begin(), records_.end(), range.from,
                                  [](const Record& r, std::int64_t place) { return r.place < place; });
    auto last = std::upper_bound(first, records_.end(), range.to, [](std::int64_t place, const Record& r) { return place < r.place; });
    if (range.firstCount && last - first > *range.firstCount)
        last = first + *range.firstCount;
    if (range.lastCount && last - first > *range.lastCount)
        first = last - *range.lastCount;
    std::string out;
    for (auto it = first; it != last; ++it) {
        if (!out.empty())
            out += ',';
        out += it->text;
    }
    return out;
}

const Record* RecordLog::find(std::int64_t id) const
{
    const auto it = std::find_if(records_.rbegin(), records_.rend(), [&](const Record& r) { return r.id == id; });
    return it == records_.rend() ? nullptr : &*it;
}

} // namespace vd::sim
