#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ClientPopulation.h"
#include "DnsCache.h"
#include "HttpExchange.h"
#include "TrafficGenerator.h"
#include "Tunnel.h"

namespace vd::sim {

// Traffic recording captures bodies of tunnels opened while it is on; MitM opens the TLS of
// tunnels opened while it is on.
struct CaptureSwitches {
    bool recording = true;
    bool mitm = true;
};

// Opens tunnels: a client picks one of its destinations, and the whole life of the tunnel is
// planned at once (time line, exchange, transfer, how it ends), its unchanging members written.
class TunnelOpener {
public:
    TunnelOpener(TrafficGenerator& random, ClientPopulation& clients, DnsCache& dns, const BodyStore& bodies)
        : random_(random), clients_(clients), dns_(dns), bodies_(bodies), exchanges_(random, bodies)
    {
    }

    // A tunnel that started within the step ending at `now`.
    Tunnel open(std::int64_t id, std::int64_t now, CaptureSwitches capture);

private:
    // What the rest of the plan and the static members follow from.
    struct Opening {
        const Client& client;
        const Site& site;
        bool refused = false;
        bool opened = false; // its TLS opened by MitM
        std::string status;  // of the HTTP response; empty for other tunnels
        std::shared_ptr<Exchange> exchange;
    };

    const Site& destinationOf(const Client& client);
    void planTimeline(Tunnel& t, const Site& site, bool refused, std::int64_t now);
    std::string methodFor(Style style);
    void makeExchange(Opening& opening, std::int64_t at, CaptureSwitches capture);
    void planTransfer(Tunnel& t, const Opening& opening);
    void planFirstAndLastByte(Tunnel& t, Style style, std::int64_t from);
    void planEnding(Tunnel& t, const Opening& opening);

    TrafficGenerator& random_;
    ClientPopulation& clients_;
    DnsCache& dns_;
    const BodyStore& bodies_;
    HttpExchangeMaker exchanges_;
};

} // namespace vd::sim
