#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "VDRecordLists.h"

namespace vd {

struct ByteCounts {
    std::uint64_t sent = 0;
    std::uint64_t received = 0;

    bool operator==(const ByteCounts&) const = default;
};

struct PolicyBytes {
    std::string policy;
    ByteCounts bytes;

    bool operator==(const PolicyBytes&) const = default;
};

// Everything counted so far; no figure ever goes down.
struct TrafficCounts {
    ByteCounts bytes;
    std::uint64_t completed = 0;
    std::uint64_t failed = 0;
    // In the order the policies were first seen.
    std::vector<PolicyBytes> policies;
};

// Running totals of one service's traffic, fed with each report the processor holds: the
// active list as it stands and recent records. Both the dashboard's status bar and the
// metrics exporter count with it, so their figures agree.
//
// An active tunnel adds its growth since the report it was last seen in (all its bytes the
// first time); a closed one adds what its recent record shows beyond what was counted while
// it was active, once per id, however often the record is handed in again. Only the ids of
// the last `endedIdWindow` tunnels to end are remembered: older ones have left the service's
// recent window and cannot come back, so memory stays flat on a service that runs for weeks.
// The window has to be at least as long as any recent list handed in, or a record older than
// the window would count again.
class TrafficTotals {
public:
    // Policies get their own name up to this many; the rest are added up under kOtherPolicy,
    // so a service with a policy per host cannot blow up a label set.
    static constexpr std::size_t kMaxNamedPolicies = 50;
    static constexpr std::string_view kOtherPolicy = "other";

    explicit TrafficTotals(std::size_t endedIdWindow);

    // Told each tunnel's growth as it is counted: what a view of this report's traffic by client
    // or host adds up.
    using GrowthVisitor = std::function<void(const VDTunnelInfo& tunnel, const ByteCounts& growth)>;

    // `serviceStart` is the service's start time, 0 while it is not known. A different one means
    // the service restarted and its ids begin again: the per-id state goes, the totals stay.
    void update(const TunnelList& active, const TunnelList& recent, double serviceStart,
                const GrowthVisitor& visitGrowth = {});

    const TrafficCounts& counts() const { return counts_; }
    // How many tunnels are remembered, for tests of the bound.
    std::size_t rememberedIds() const { return seen_.size(); }

private:
    struct Seen {
        ByteCounts counted;
        std::uint64_t lastActiveReport = 0;
        bool closed = false;
        // Queued among the ended ids, which happens once: when it leaves the active list or
        // closes, whichever is seen first.
        bool ended = false;
    };

    void forgetIfRestarted(double serviceStart);
    void countActive(const TunnelList& active);
    void countClosed(const TunnelList& recent);
    // Adds what the record shows beyond what `seen` has counted.
    void addGrowth(const VDTunnelInfo& tunnel, Seen& seen);
    void markEnded(std::int64_t id, Seen& seen);
    void forgetBeyondWindow();
    ByteCounts& policyBytes(std::string_view policy);

    const std::size_t endedIdWindow_;
    // The visitor of the update running, if it has one.
    const GrowthVisitor* visitGrowth_ = nullptr;
    double serviceStart_ = 0;
    std::uint64_t report_ = 0;
    TrafficCounts counts_;
    std::unordered_map<std::string, std::size_t> policyIndex_;
    std::unordered_map<std::int64_t, Seen> seen_;
    std::vector<std::int64_t> previousActive_;
    std::deque<std::int64_t> endedOrder_;
};

} // namespace vd
