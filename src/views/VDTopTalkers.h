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
// would make it grow without end, so memory stays bounded whatever the service sends. Each name
// is held once, with its running sum over all the buckets and how many of them hold it; the
// buckets point at it. So a report costs one look-up of each name it carries, and the largest
// few are picked from the sums without adding the buckets up again.
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
    struct Talker {
        std::int64_t bytes = 0;
        std::uint32_t buckets = 0;
    };
    // Pointers into it stay valid while it grows, which the buckets rely on.
    using Talkers = std::unordered_map<std::string, Talker>;
    using Bucket = std::unordered_map<Talkers::value_type*, std::int64_t>;

    void advanceTo(std::int64_t minute);
    // Keeps the `keep` largest names of the bucket; the others leave the running sums too.
    void trim(Bucket& bucket, std::size_t keep);
    // A bucket lets go of a name's bytes; the name goes when no bucket holds it any more.
    void release(Talkers::value_type* talker, std::int64_t bytes);

    std::array<Bucket, kBuckets> buckets_;
    Talkers talkers_;
    std::int64_t minute_ = 0;
    bool started_ = false;
};

} // namespace vd
