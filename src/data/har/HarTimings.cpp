#include "HarTimings.h"

#include <algorithm>

#include "data/VDTunnelInfo.h"

namespace vd::har {
namespace {

constexpr double kMillisecondsPerSecond = 1000;

// Walks the time line from the tunnel's start, one reached stamp after the other.
class TimeLine {
public:
    explicit TimeLine(double start) : last_(start) {}

    // Milliseconds from the last reached stamp to `stamp`, or -1 when it was not reached.
    double stepTo(double stamp)
    {
        if (stamp <= 0 || stamp < last_)
            return -1;
        const double step = (stamp - last_) * kMillisecondsPerSecond;
        last_ = stamp;
        return step;
    }

private:
    double last_;
};

double knownSum(double a, double b)
{
    if (a < 0)
        return b;
    return b < 0 ? a : a + b;
}

} // namespace

double HarTimings::total() const
{
    double sum = 0;
    for (const double phase : {blocked, dns, connect, ssl, send, wait, receive}) {
        if (phase > 0)
            sum += phase;
    }
    return sum;
}

HarTimings harTimingsOf(const VDTunnelInfo& tunnel)
{
    HarTimings timings;
    TimeLine line(tunnel.t_start());
    timings.blocked = line.stepTo(tunnel.t_server_ready());
    timings.dns = line.stepTo(tunnel.t_dns_resolved());
    timings.blocked = knownSum(timings.blocked, line.stepTo(tunnel.t_rule_found()));
    timings.connect = line.stepTo(tunnel.t_proxy_ready());
    timings.wait = std::max(0.0, line.stepTo(tunnel.t_end()));
    return timings;
}

} // namespace vd::har
