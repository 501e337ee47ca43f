#pragma once

#include <optional>

#include "link/QNComPacket.h"

namespace vd::sim {

// What the simulated service answers to each request after login, and the switches that the
// requests change. One responder per service, shared by its connections.
class SimResponder {
public:
    SimResponder();

    // The unasked service information sent right after a login.
    QNComPacket serviceInfo() const;
    // The reply to a request, or nothing for a request that gets none.
    std::optional<QNComPacket> reply(const QNComPacket& request);

private:
    double startTime_ = 0;
    bool recordTraffic_ = false;
    bool mitmEnabled_ = false;
    bool pushTunnels_ = false;
    bool pushDNS_ = false;
    bool pushUDP_ = false;
};

} // namespace vd::sim
