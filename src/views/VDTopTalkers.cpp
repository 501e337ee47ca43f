#include "VDTopTalkers.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/Numbers.h"

namespace vd {
namespace {

// A hostile service can report counts near the top of the range; sums stop there.
std::int64_t saturatingAdd(std::int64_t a, std::int64_t b)
{
    std::int64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<std::int64_t>::max() : sum;
}

std::size_t ringIndex(std::int64_t minute)
{
    const auto buckets = static_cast<std::int64_t>(VDTopTalkers::kBuckets);
    return static_cast<std::size_t>((minute % buckets + buckets) % buckets);
}

// Largest first, equal sums in name order, so the list does not flicker between equals.
template <typename Pointer>
bool larger(Pointer a, Pointer b)
{
    return a->second != b->second ? a->second > b->second : a->first < b->first;
}

} // namespace

void VDTopTalkers::add(double time, const TrafficGrowth& growth)
{
    if (std::isfinite(time)) {
        const auto minute = numbers::saturatingCast<std::int64_t>(std::floor(time / kBucketSeconds));
        if (!started_) {
            minute_ = minute;
            started_ = true;
        } else if (minute > minute_) {
            advanceTo(minute);
        }
    }
    Sums& open = buckets_[ringIndex(minute_)];
    for (const auto& [name, bytes] : growth) {
        if (bytes <= 0)
            continue;
        auto& inBucket = open[name];
        inBucket = saturatingAdd(inBucket, bytes);
        auto& inWindow = window_[name];
        inWindow = saturatingAdd(inWindow, bytes);
    }
    if (open.size() > kOpenBucketLimit)
        trim(open, kOpenBucketLimit / 2);
}

void VDTopTalkers::advanceTo(std::int64_t minute)
{
    trim(buckets_[ringIndex(minute_)], kKeptPerBucket);
    // Every minute passed reopens the bucket of ten minutes before it; after a gap of ten
    // minutes or more, that is all of them.
    const std::int64_t passed = std::min<std::int64_t>(minute - minute_, kBuckets);
    for (std::int64_t step = 1; step <= passed; ++step) {
        Sums& expired = buckets_[ringIndex(minute_ + step)];
        for (const auto& [name, bytes] : expired)
            subtract(name, bytes);
        expired.clear();
    }
    minute_ = minute;
}

void VDTopTalkers::trim(Sums& bucket, std::size_t keep)
{
    if (bucket.size() <= keep)
        return;
    std::vector<Sums::iterator> entries;
    entries.reserve(bucket.size());
    for (auto it = bucket.begin(); it != bucket.end(); ++it)
        entries.push_back(it);
    std::nth_element(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(keep), entries.end(),
                     larger<Sums::iterator>);
    for (auto it = entries.begin() + static_cast<std::ptrdiff_t>(keep); it != entries.end(); ++it) {
        subtract((*it)->first, (*it)->second);
        bucket.erase(*it);
    }
}

void VDTopTalkers::subtract(const std::string& name, std::int64_t bytes)
{
    const auto it = window_.find(name);
    if (it == window_.end())
        return;
    it->second -= bytes;
    if (it->second <= 0)
        window_.erase(it);
}

std::vector<VDTopTalkers::Entry> VDTopTalkers::top(std::size_t count) const
{
    std::vector<Sums::const_iterator> entries;
    entries.reserve(window_.size());
    for (auto it = window_.begin(); it != window_.end(); ++it)
        entries.push_back(it);
    const auto shown = entries.begin() + static_cast<std::ptrdiff_t>(std::min(count, entries.size()));
    std::partial_sort(entries.begin(), shown, entries.end(), larger<Sums::const_iterator>);
    std::vector<Entry> result;
    result.reserve(static_cast<std::size_t>(shown - entries.begin()));
    for (auto it = entries.begin(); it != shown; ++it)
        result.emplace_back((*it)->first, (*it)->second);
    return result;
}

std::size_t VDTopTalkers::heldNames() const
{
    std::size_t held = window_.size();
    for (const Sums& bucket : buckets_)
        held += bucket.size();
    return held;
}

} // namespace vd
