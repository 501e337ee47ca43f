#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "VDTrafficSample.h"

namespace vd {

// Bytes moved in the last ten minutes by name (clients or hosts), for the largest few.
//
// Growth is kept in ten one-minute buckets in a fixed ring. A bucket keeps only its largest
// names once its minute is over, and the one still open is cut back when a flood of names
// would make it grow without end, so memory stays bounded whatever the service sends. Beside
// the buckets a running sum over all of them is kept, so a report costs one update per name it
// carries and the largest few are picked from the sum without adding the buckets up again.
class VDTopTalkers {
public:
    static constexpr std::size_t kBuckets = 10;
    static constexpr double kBucketSeconds = 60;
    static constexpr std::size_t kKeptPerBucket = 50;
    // About twenty times the hosts of a busy service in one minute.
    static constexpr std::size_t kOpenBucketLimit = 40000;

    using Entry = std::pair<std::string, std::int64_t>;

    // Adds a report's growth, dated on the same clock as the traffic samples. Names that moved
    // no bytes (or a negative count, as after a counter reset) are skipped.
    void add(double time, const TrafficGrowth& growth);

    // The `count` largest sums, largest first; equal sums in name order.
    std::vector<Entry> top(std::size_t count) const;

    // How many names the buckets hold, all together.
    std::size_t heldNames() const;

private:
    using Sums = std::unordered_map<std::string, std::int64_t>;

    void advanceTo(std::int64_t minute);
    // Keeps the `keep` largest names of the bucket; the others leave the running sum too.
    void trim(Sums& bucket, std::size_t keep);
    void subtract(const std::string& name, std::int64_t bytes);

    std::array<Sums, kBuckets> buckets_;
    Sums window_;
    std::int64_t minute_ = 0;
    bool started_ = false;
};

} // namespace vd
