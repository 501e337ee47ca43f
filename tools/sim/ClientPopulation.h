#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "TrafficGenerator.h"

namespace vd::sim {

struct ClientProfile {
    const char* name;
    const char* bundle;
    const char* path;
    const char* fromHost;
    const char* agent;
    unsigned weight;
    std::vector<int> sites; // numbers of the destinations it visits
    bool browser;           // speaks to an HTTP proxy the way browsers do (Proxy-Connection)
};

struct Client {
    ClientProfile profile;
    std::int64_t pid = 0; // 0 for a remote device, which has no process here
};

// Who uses the proxy: local processes (some without a bundle id, one reaching us over this
// machine's LAN address) and remote devices. Each process draws its pid once, at the start.
class ClientPopulation {
public:
    explicit ClientPopulation(TrafficGenerator& random);

    // A client by weight: the busy ones open more tunnels.
    const Client& pick();
    bool hasBundle(std::string_view bundleId) const;
    // The local processes as the service lists them.
    nlohmann::ordered_json processes() const;

private:
    TrafficGenerator& random_;
    std::vector<Client> clients_;
    std::uint64_t totalWeight_ = 0;
};

} // namespace vd::sim
