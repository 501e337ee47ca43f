#pragma once

#include <cstdint>

#include "TrafficGenerator.h"
#include "Tunnel.h"

namespace vd::sim {

// The bytes the service has moved in all, over every tunnel.
struct ByteTotals {
    std::int64_t rx = 0;
    std::int64_t tx = 0;
};

// Moves an active tunnel on to `now`, one step after the last time: the stages of its time line
// it has reached, its bytes and speeds. Marks it dirty when anything its text shows changed.
void advance(Tunnel& t, std::int64_t now, TrafficGenerator& random, ByteTotals& totals);

// At its close a finite exchange has sent and received everything, unless it was closed by
// hand, never reached the server or was idle; speeds fall to 0.
void settle(Tunnel& t, CloseReason reason, ByteTotals& totals);

} // namespace vd::sim
