#pragma once

#include <cstdint>
#include <string>

namespace vd::sim {

// Made-up but realistic traffic for the simulated service: tunnel records with real-looking
// header blocks, deterministic for a given seed so figures and tests can be repeated.
class TrafficGenerator {
public:
    explicit TrafficGenerator(std::uint64_t seed);

    // One tunnel as the service reports it: a compact JSON text of roughly 1.5 to 3 KB with
    // every key a tunnel record has. `now` is seconds since the service started.
    std::string tunnelText(std::int64_t id, double now, bool active);

    std::uint64_t next();
    std::int64_t between(std::int64_t low, std::int64_t high);
    bool chance(unsigned percent) { return next() % 100 < percent; }
    // Random lowercase hexadecimal digits, and random characters of the URL-safe Base64 alphabet.
    std::string hex(std::size_t length);
    std::string token(std::size_t length);

private:
    std::string requestHeader(const std::string& method, const std::string& host, const std::string& path);
    std::string responseHeader(const std::string& status, const std::string& host, std::int64_t length);

    std::uint64_t state_;
};

} // namespace vd::sim
