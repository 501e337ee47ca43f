#include "TrafficTotals.h"

#include <algorithm>

#include "VDTunnelInfo.h"

namespace vd {
namespace {

// The service's byte counts are signed on the wire; a negative one carries nothing.
std::uint64_t bytesOf(std::int64_t reported)
{
    return reported > 0 ? static_cast<std::uint64_t>(reported) : 0;
}

} // namespace

TrafficTotals::TrafficTotals(std::size_t endedIdWindow) : endedIdWindow_(endedIdWindow) {}

void TrafficTotals::update(const TunnelList& active, const TunnelList& recent, double serviceStart,
                           const GrowthVisitor& visitGrowth)
{
    visitGrowth_ = visitGrowth ? &visitGrowth : nullptr;
    ++report_;
    forgetIfRestarted(serviceStart);
    countActive(active);
    countClosed(recent);
    forgetBeyondWindow();
    visitGrowth_ = nullptr;
}

void TrafficTotals::forgetIfRestarted(double serviceStart)
{
    if (serviceStart == 0 || serviceStart == serviceStart_)
        return;
    // The first start time learnt belongs to the records counted so far.
    if (serviceStart_ != 0) {
        seen_.clear();
        previousActive_.clear();
        endedOrder_.clear();
    }
    serviceStart_ = serviceStart;
}

void TrafficTotals::countActive(const TunnelList& active)
{
    std::vector<std::int64_t> ids;
    ids.reserve(active.size());
    for (const auto& tunnel : active) {
        Seen& seen = seen_[tunnel->id_()];
        // A list older than the recent record that closed the tunnel has nothing more to add.
        if (seen.closed)
            continue;
        seen.lastActiveReport = report_;
        addGrowth(*tunnel, seen);
        ids.push_back(tunnel->id_());
    }
    previousActive_.swap(ids);
    // What was active before and is not now has ended; its id is in `ids` now.
    for (const std::int64_t id : ids) {
        const auto it = seen_.find(id);
        if (it != seen_.end() && it->second.lastActiveReport != report_)
            markEnded(id, it->second);
    }
}

void TrafficTotals::countClosed(const TunnelList& recent)
{
    for (const auto& tunnel : recent) {
        Seen& seen = seen_[tunnel->id_()];
        if (seen.closed)
            continue;
        addGrowth(*tunnel, seen);
        seen.closed = true;
        ++(tunnel->status() == TunnelStatus::completed ? counts_.completed : counts_.failed);
        markEnded(tunnel->id_(), seen);
    }
}

void TrafficTotals::addGrowth(const VDTunnelInfo& tunnel, Seen& seen)
{
    const std::uint64_t sent = bytesOf(tunnel.tx());
    const std::uint64_t received = bytesOf(tunnel.rx());
    const ByteCounts growth{sent > seen.counted.sent ? sent - seen.counted.sent : 0,
                            received > seen.counted.received ? received - seen.counted.received : 0};
    if (growth == ByteCounts{})
        return;
    seen.counted.sent = std::max(seen.counted.sent, sent);
    seen.counted.received = std::max(seen.counted.received, received);
    counts_.bytes.sent += growth.sent;
    counts_.bytes.received += growth.received;
    ByteCounts& policy = policyBytes(tunnel.policyName());
    policy.sent += growth.sent;
    policy.received += growth.received;
    if (visitGrowth_)
        (*visitGrowth_)(tunnel, growth);
}

void TrafficTotals::markEnded(std::int64_t id, Seen& seen)
{
    if (seen.ended)
        return;
    seen.ended = true;
    endedOrder_.push_back(id);
}

void TrafficTotals::forgetBeyondWindow()
{
    while (endedOrder_.size() > endedIdWindow_) {
        seen_.erase(endedOrder_.front());
        endedOrder_.pop_front();
    }
}

ByteCounts& TrafficTotals::policyBytes(std::string_view policy)
{
    std::string name(policy);
    auto it = policyIndex_.find(name);
    if (it == policyIndex_.end()) {
        if (policyIndex_.size() >= kMaxNamedPolicies && name != kOtherPolicy) {
            name = kOtherPolicy;
            it = policyIndex_.find(name);
        }
        if (it == policyIndex_.end()) {
            it = policyIndex_.emplace(name, counts_.policies.size()).first;
            counts_.policies.push_back({name, {}});
        }
    }
    return counts_.policies[it->second].bytes;
}

} // namespace vd
