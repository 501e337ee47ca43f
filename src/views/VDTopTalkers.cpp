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
bool larger(std::int64_t aBytes, const std::string& aName, std::int64_t bBytes, const std::string& bName)
{
    return aBytes != bBytes ? aBytes > bBytes : aName < bName;
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
    Bucket& open = buckets_[ringIndex(minute_)];
    for (const auto& [name, bytes] : growth) {
        if (bytes <= 0)
            continue;
        Talkers::value_type& talker = *talkers_.try_emplace(name).first;
        const auto [inBucket, added] = open.try_emplace(&talker, 0);
        if (added)
            ++talker.second.buckets;
        inBucket->second = saturatingAdd(inBucket->second, bytes);
        talker.second.bytes = saturatingAdd(talker.second.bytes, bytes);
    }
    if (open.size() > kOpenBucketLimit)
        trim(open, kOpenBucketLimit / 2);
}

void VDTopTalkers::advanceTo(std::int64_t minute)
{
    trim(buckets_[ringIndex(minute_)], kKeptPerBucket);
    // Every minute passed reopens the bucket of ten minutes before it; after a gap of ten
    // minutes or more, that is all of them.
    std::int64_t passed = 0;
    if (__builtin_sub_overflow(minute, minute_, &passed) || passed > static_cast<std::int64_t>(kBuckets))
        passed = kBuckets;
    for (std::int64_t step = 1; step <= passed; ++step) {
        Bucket& expired = buckets_[ringIndex(minute_ + step)];
        for (const auto& [talker, bytes] : expired)
            release(talker, bytes);
        expired.clear();
    }
    minute_ = minute;
}

void VDTopTalkers::trim(Bucket& bucket, std::size_t keep)
{
    if (bucket.size() <= keep)
        return;
    std::vector<Bucket::iterator> entries;
    entries.reserve(bucket.size());
    for (auto it = bucket.begin(); it != bucket.end(); ++it)
        entries.push_back(it);
    std::nth_element(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(keep), entries.end(),
                     [](Bucket::iterator a, Bucket::iterator b) { return larger(a->second, a->first->first, b->second, b->first->first); });
    for (auto it = entries.begin() + static_cast<std::ptrdiff_t>(keep); it != entries.end(); ++it) {
        release((*it)->first, (*it)->second);
        bucket.erase(*it);
    }
}

void VDTopTalkers::release(Talkers::value_type* talker, std::int64_t bytes)
{
    // A sum that stopped at the top of the range can be smaller than what its buckets held.
    talker->second.bytes = std::max<std::int64_t>(talker->second.bytes - bytes, 0);
    if (--talker->second.buckets == 0)
        talkers_.erase(talkers_.find(talker->first));
}

std::vector<VDTopTalkers::Entry> VDTopTalkers::top(std::size_t count) const
{
    std::vector<Talkers::const_iterator> entries;
    entries.reserve(talkers_.size());
    for (auto it = talkers_.begin(); it != talkers_.end(); ++it)
        entries.push_back(it);
    const auto shown = entries.begin() + static_cast<std::ptrdiff_t>(std::min(count, entries.size()));
    std::partial_sort(entries.begin(), shown, entries.end(), [](Talkers::const_iterator a, Talkers::const_iterator b) {
        return larger(a->second.bytes, a->first, b->second.bytes, b->first);
    });
    std::vector<Entry> result;
    result.reserve(static_cast<std::size_t>(shown - entries.begin()));
    for (auto it = entries.begin(); it != shown; ++it)
        result.emplace_back((*it)->first, (*it)->second.bytes);
    return result;
}

std::size_t VDTopTalkers::heldNames() const
{
    std::size_t held = talkers_.size();
    for (const Bucket& bucket : buckets_)
        held += bucket.size();
    return held;
}

} // namespace vd
