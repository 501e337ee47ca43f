#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <asio/io_context.hpp>

namespace vd::sim {

struct SimulatorOptions {
    // The local socket (the built-in password applies there); none: no local socket.
    std::optional<std::filesystem::path> socketPath;
    // TCP listening, with its password; port 0 picks a free one.
    std::optional<std::uint16_t> tcpPort;
    std::string tcpAddress = "127.0.0.1";
    std::string password;
    // What the service greets with; tests change it to see a client refuse a wrong service.
    std::string greeting;
    // The traffic: the same seed gives the same traffic, step by step.
    std::uint64_t seed = 1;
    // Active tunnels held at exactly this count, for load tests; 0: a natural, drifting load.
    std::size_t scale = 0;
    // Real time between two steps of the traffic; each step is a quarter of a second of the
    // service's own time, so a shorter interval makes time run faster. Zero: time stands still.
    std::chrono::milliseconds tickInterval{250};
    // A hostile service: besides the traffic, every connection gets acts of chaos chosen by a
    // generator seeded with this and the connection number. None: a well-behaved service.
    std::optional<std::uint64_t> chaosSeed;
    // One recent record per body of the gallery (BodyGallery.h), beside the traffic.
    bool bodyGallery = false;
    // The share of idle keep-alive connections (ModelOptions::idleShare).
    double idleShare = 0;
};

// A Vantor service peer for demos and tests: greets, checks the identity and the password,
// then serves a live, simulated proxy's traffic: answers requests, pushes what clients switched
// on, and writes every packet it receives as one JSON line to its log, followed by a
// {"conn":N,"protocol_error":"..."} line for each packet that breaks the contract. Every body and
// icon reply it sends is logged as {"conn":N,"sent":packet}: what a client may store.
// All of its work runs on the io_context it is given.
class ServiceSimulator {
public:
    using LogSink = std::function<void(const std::string& line)>;

    ServiceSimulator(asio::io_context& context, SimulatorOptions options, LogSink log);
    ~ServiceSimulator();

    // Binds the listeners; an error text when one cannot be had.
    std::optional<std::string> start();
    // Closes the listeners and every connection, and removes the local socket file.
    void stop();
    // Ends every open connection from the service side (as a service that goes away).
    void closeAllConnections();

    std::uint16_t tcpPort() const;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

} // namespace vd::sim
