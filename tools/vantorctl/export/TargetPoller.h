#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "ExportTargets.h"
#include "TargetSample.h"
#include "data/TrafficTotals.h"
#include "data/VDDataProcesser.h"
#include "platform/DispatchQueue.h"
#include "platform/Timer.h"

namespace vd::ctl {

// Keeps one target logged in and polled every second on a queue of its own, and publishes what
// it learnt as a sample that readers take without ever waiting for a poll or a reconnect. A
// target that cannot be reached or goes away is tried again every second; its counters carry on.
class TargetPoller : public std::enable_shared_from_this<TargetPoller> {
public:
    static std::shared_ptr<TargetPoller> start(NamedTarget target, std::chrono::milliseconds loginTimeout);
    TargetPoller(NamedTarget target, std::chrono::milliseconds loginTimeout);
    TargetPoller(const TargetPoller&) = delete;
    TargetPoller& operator=(const TargetPoller&) = delete;

    const std::string& name() const { return target_.name; }
    std::shared_ptr<const TargetSample> sample() const;
    // Ends the polls and the link; `done` runs on the poller's queue once they have ended.
    void stop(Task done);

private:
    struct Link {
        std::mutex mutex;
        bool loggedIn = false;
        bool ended = false;
    };

    void tick();
    void connect();
    void dropLink();
    void collect();
    void request();
    void countUdp(const UDPList& records);
    void publish(bool up);

    const NamedTarget target_;
    const std::chrono::milliseconds loginTimeout_;
    const std::shared_ptr<SerialQueue> queue_;
    std::shared_ptr<Timer> timer_;

    // Touched on queue_ only.
    std::shared_ptr<VDDataProcesser> processer_;
    std::shared_ptr<Link> link_;
    std::chrono::steady_clock::time_point connectStarted_;
    std::uint64_t polls_ = 0;
    TrafficTotals totals_;
    // The recent records are asked for from here on; it belongs to the service started at
    // `cursorStart_`.
    std::int64_t recentCursor_ = -1;
    double cursorStart_ = 0;
    std::unordered_set<std::int64_t> openUdp_;
    TargetSample working_;

    mutable std::mutex sampleMutex_;
    std::shared_ptr<const TargetSample> sample_;
};

} // namespace vd::ctl
