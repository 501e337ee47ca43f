#pragma once

#include <chrono>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "link/QNComPacket.h"
#include "link/ServiceContract.h"
#include "support/RawPeer.h"

namespace vd::test {

// A service played packet by packet over a real socket: the test logs the client in and then
// decides every report it sends and reads every request it gets.
class ScriptedService {
public:
    using Json = nlohmann::ordered_json;

    explicit ScriptedService(std::filesystem::path socketPath) : peer_(std::move(socketPath)) {}

    const std::filesystem::path& path() const { return peer_.path(); }

    void acceptAndLogin()
    {
        ASSERT_TRUE(peer_.accept());
        send({{"c", 1}, {"m", contract::kGreetingToken}});
        ASSERT_TRUE(nextPacket());
        send({{"c", contract::kCodeIdentityAccepted}});
        ASSERT_TRUE(nextPacket());
        send({{"c", contract::kCodeSuccess}});
    }

    void send(const Json& packet)
    {
        QNComPacket wire;
        wire.dic() = packet;
        ASSERT_TRUE(peer_.send(*wire.toData()));
    }
    // A reply or push with code 1: {"c":1,"t":cmd,"d":data}.
    void report(std::uint64_t cmd, const Json& data) { send({{"c", 1}, {"i", 0}, {"t", cmd}, {"d", data}}); }

    std::optional<Json> nextPacket(std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        const auto bytes = peer_.readPacket(timeout);
        if (!bytes)
            return std::nullopt;
        const auto packet = QNComPacket::initWithData(*bytes);
        return packet ? std::optional<Json>(packet->dic()) : std::nullopt;
    }
    // The next request with this "t", skipping others (icon requests, polls).
    std::optional<Json> nextRequest(std::uint64_t cmd, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        using namespace std::chrono;
        const auto deadline = steady_clock::now() + timeout;
        for (auto left = timeout; left.count() > 0; left = duration_cast<milliseconds>(deadline - steady_clock::now())) {
            auto packet = nextPacket(left);
            if (!packet || (*packet)["t"] == cmd)
                return packet;
        }
        return std::nullopt;
    }

    RawPeer& peer() { return peer_; }

private:
    RawPeer peer_;
};

} // namespace vd::test
