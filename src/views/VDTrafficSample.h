#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace vd {

// Bytes moved since the previous report, by client or by host name.
using TrafficGrowth = std::unordered_map<std::string, std::int64_t>;

// What one report tells the traffic panel. The time comes from a clock that does not jump
// (seconds, any origin): the chart's ten minutes are measured on it.
struct TrafficSample {
    double time = 0;
    // Sums of the active tunnels' reported speeds, bytes per second.
    std::int64_t upload = 0;
    std::int64_t download = 0;
    TrafficGrowth clientGrowth;
    TrafficGrowth hostGrowth;
};

} // namespace vd
