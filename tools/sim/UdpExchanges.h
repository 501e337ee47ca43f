#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ClientPopulation.h"
#include "TrafficGenerator.h"

namespace vd::sim {

// UDP exchanges: each one is reported when it arrives, when its rule has decided (a refused
// one ends there) and when it ends, one step apart.
class UdpExchanges {
public:
    // `scale`: a load test's tunnel count, which brings more exchanges per step; 0 for none.
    UdpExchanges(TrafficGenerator& random, ClientPopulation& clients, std::size_t scale)
        : random_(random), clients_(clients), scale_(scale)
    {
    }

    // One step ending at `now`: the JSON text of every exchange that changed.
    std::vector<std::string> step(std::int64_t now);

private:
    struct Udp {
        std::int64_t id = 0;
        std::string fromHost;
        std::int64_t fromPort = 0;
        std::string host;
        std::int64_t port = 0;
        std::string rule;
        std::string policy;
        std::int64_t tTime = 0, tRule = 0, tEnd = 0;
        std::uint64_t status = 0;
        std::int64_t direction = 0;
        int stage = 0;
    };

    void moveOn(Udp& u, std::int64_t now);
    std::int64_t arrivals();
    Udp arrive(std::int64_t now);
    static std::string textOf(const Udp& u);

    TrafficGenerator& random_;
    ClientPopulation& clients_;
    std::size_t scale_;
    std::vector<Udp> open_;
    std::int64_t nextId_ = 1;
};

} // namespace vd::sim
