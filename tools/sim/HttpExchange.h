#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "ClientPopulation.h"
#include "Destinations.h"
#include "HttpMessages.h"
#include "TrafficGenerator.h"

namespace vd::sim {

// Captured HTTP exchange of a tunnel: its header blocks and what its bodies are made from.
struct Exchange {
    std::string requestHead;
    std::string responseHead;
    BodyKind requestBody = BodyKind::None;
    BodyKind responseBody = BodyKind::None;
    std::uint64_t seed = 0;
    bool captured = false;
    // A response body made once and kept, instead of one made again from kind and seed.
    const std::string* fixedResponseBody = nullptr;
};

// Bodies come in a limited number of variants per kind, each made once: an API answers alike
// more often than not, and a proxy at ten thousand connections has no time to write them all.
class BodyStore {
public:
    explicit BodyStore(std::uint64_t seed) : seed_(seed) {}

    const std::string& requestBodyOf(const Exchange& exchange) const;
    const std::string& responseBodyOf(const Exchange& exchange) const;

private:
    const std::string& body(BodyKind kind, std::uint64_t variant) const;

    std::uint64_t seed_;
    mutable std::map<std::pair<BodyKind, std::uint64_t>, std::optional<std::string>> bodies_;
};

// The request and response of an HTTP or HTTPS tunnel, as a client and a server of the site's
// style would write them.
class HttpExchangeMaker {
public:
    HttpExchangeMaker(TrafficGenerator& random, const BodyStore& bodies) : random_(random), bodies_(bodies) {}

    // Fills the exchange's bodies and header blocks for a request sent at `at`; the response's
    // status line, e.g. "200 OK".
    std::string fill(Exchange& exchange, const Site& site, const Client& client, const std::string& method, std::int64_t at);

private:
    BodyKind responseKindFor(Style style, const std::string& method);
    std::string pathFor(Style style);
    std::string requestHead(const Site& site, const Client& client, const std::string& method, const std::string& target,
                            BodyKind body, std::size_t bodyLength, BodyKind expected, bool proxyForm);
    std::string responseHead(const Site& site, BodyKind body, std::size_t bodyLength, const std::string& status, std::int64_t at);

    TrafficGenerator& random_;
    const BodyStore& bodies_;
};

} // namespace vd::sim
