#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <asio/io_context.hpp>
#include <nlohmann/json.hpp>

namespace vd::sim {

// A stand-in for the USB multiplexing daemon, so the USB link can be tested without a phone.
// It speaks the daemon's packet protocol (16-byte little-endian header, XML property lists)
// on a unix socket and knows a set of simulated devices, each with ports that lead to the
// local socket of a Vantor service (vantor-sim). A device port carries what a phone's port
// would: frames, each of type 3004 holding one link packet, which it unwraps for the service
// and wraps again on the way back.
//
// "Listen" is answered with result 0, followed at once by an "Attached" broadcast for every
// device already present (as the real daemon does), so a client that starts late still
// learns about them; later attach and detach calls reach every listener.
// "Connect" answers 2 for a device that is not attached, 3 for a port that leads nowhere or
// whose service does not accept, and 0 otherwise, after which that connection carries frames.
// Detaching a device cuts its open port connections, as pulling the cable would.
//
// All work runs on the io_context it is given. start() and stop() must be called on that
// context's thread or while it is not running; the device calls may come from any thread.
class UsbmuxSimulator {
public:
    // Frames sent towards the client carry this tag: the dashboard passes tags through without
    // reading them, so a fixed value keeps captured traffic easy to tell apart.
    static constexpr std::uint32_t kServiceFrameTag = 0;

    UsbmuxSimulator(asio::io_context& context, std::filesystem::path socketPath);
    ~UsbmuxSimulator();
    UsbmuxSimulator(const UsbmuxSimulator&) = delete;
    UsbmuxSimulator& operator=(const UsbmuxSimulator&) = delete;

    // Binds the daemon socket (a stale file in its place is removed); an error text on failure.
    std::optional<std::string> start();
    // Closes the listener and every connection, and removes the socket file.
    void stop();

    // Makes the device's port lead to a service's local socket. Allowed before the device
    // attaches; the mapping stays across detach and attach.
    void forwardPort(std::uint32_t deviceId, std::uint16_t port, std::filesystem::path serviceSocket);
    // The device appears: "Attached" with these properties (an object; "DeviceID" is added
    // when missing) goes to every listener. Attaching a present device broadcasts again.
    void attach(std::uint32_t deviceId, nlohmann::json properties = nlohmann::json::object());
    // The device goes away: "Detached" to every listener; its port connections are closed.
    // Nothing happens for a device that is not present.
    void detach(std::uint32_t deviceId);

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

} // namespace vd::sim
