#pragma once

#include <cstdint>
#include <string>

#include "ClientPopulation.h"
#include "Destinations.h"
#include "HttpExchange.h"
#include "TrafficGenerator.h"

namespace vd::sim {

// What a tunnel's unchanging members are written from.
struct StaticFacts {
    std::int64_t id;
    const Client& client;
    const Site& site;
    bool refused;
    bool opened; // its TLS opened by MitM
    const std::string& status;
    const Exchange& exchange;
};

// The members of a tunnel's text that never change, escaped for the report and following a
// comma: target, proxy headers, the headers seen inside TLS, client and rule. A tunnel whose
// TLS was opened may have had its headers rewritten, which is drawn here.
std::string staticTextOf(const StaticFacts& facts, TrafficGenerator& random);

} // namespace vd::sim
