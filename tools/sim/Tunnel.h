#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Destinations.h"
#include "HttpExchange.h"
#include "link/ServiceContract.h"

namespace vd::sim {

using contract::CloseReason;

// An active tunnel: its plan, made when it opened, and how far it has got.
struct Tunnel {
    std::int64_t id = 0;
    Style style = Style::Api;
    // Time line, milliseconds since the service started; tProxy stays 0 for a refused tunnel.
    std::int64_t tStart = 0, tServerReady = 0, tDns = 0, tRule = 0, tProxy = 0;
    std::int64_t tFirstByte = 0, tTransferEnd = 0, tPlannedEnd = 0;
    CloseReason plannedReason = CloseReason::complete;
    std::int64_t rx = 0, tx = 0, rxSpeed = 0, txSpeed = 0, rxMax = 0, txMax = 0;
    // Finite exchanges end with these totals; downloads use rxTotal as their rate.
    std::int64_t rxTotal = 0, txTotal = 0;
    bool hasReceive = false;
    // An idle keep-alive connection: no bytes move on it, ever.
    bool idle = false;
    int revealed = 0;
    bool dirty = true;
    std::string staticPart; // the members that never change, already escaped
    std::string text;       // the whole text as a JSON string literal, while not dirty
    std::shared_ptr<const Exchange> exchange;
};

// The tunnel's text as a JSON string literal at `now`: the members that change, then its static
// part. An active tunnel has endId, reason and both closing times 0.
std::string tunnelText(const Tunnel& t, std::int64_t now, std::int64_t endId, CloseReason reason, std::int64_t tClose,
                       std::int64_t tEnd);

} // namespace vd::sim
