#pragma once

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
};

// A Vantor service peer for demos and tests: greets, checks the identity and the password,
// answers requests, and writes every packet it receives as one JSON line to its log.
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
