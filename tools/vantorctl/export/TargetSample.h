#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "data/TrafficTotals.h"

namespace vd::ctl {

// One target's figures as of its last poll.
struct TargetSample {
    bool up = false;
    // Gauges, meaningful only while up.
    std::size_t activeConnections = 0;
    std::size_t udpSessions = 0;
    // By DNSType: configured, hosts file, dynamic.
    std::array<std::size_t, 3> dnsRecords{};
    // Counters, kept across lost links and service restarts.
    TrafficCounts traffic;
    std::uint64_t scrapeErrors = 0;
};

} // namespace vd::ctl
