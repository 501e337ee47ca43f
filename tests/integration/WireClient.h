#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "link/QNComPacket.h"
#include "link/ServiceContract.h"
#include "support/Listening.h"

namespace vd::test {

// A packet's bytes on the wire, written from its JSON object.
inline Bytes packetBytes(const nlohmann::json& object)
{
    QNComPacket packet;
    packet.dic() = QNComPacket::Dictionary::parse(object.dump());
    return *packet.toData();
}

// The JSON object a packet's bytes carry, or "undecodable".
inline nlohmann::json packetJson(std::span<const std::uint8_t> bytes)
{
    const auto packet = QNComPacket::initWithData(bytes);
    return packet ? nlohmann::json::parse(packet->dic().dump()) : nlohmann::json("undecodable");
}

// A client that writes and reads every packet itself, so the test sees the service's wire as it
// is, field by field, without the client manager between.
class WireClient {
public:
    using Json = nlohmann::json;

    explicit WireClient(const std::filesystem::path& path) : fd_(connectUnix(path))
    {
        timeval timeout{10, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~WireClient() { ::close(fd_); }

    // Greeting, identity and password as the dashboard sends them; the service's first packet after.
    Json logIn()
    {
        EXPECT_EQ(read(), Json({{"v", 1}, {"c", 1}, {"i", 0}, {"m", contract::kGreetingToken}}));
        send({{"v", 1}, {"c", 1}, {"i", 0}});
        EXPECT_EQ(read(), Json({{"v", 1}, {"c", 2}, {"i", 0}, {"m", "Password required"}}));
        send({{"v", 1}, {"c", 1}, {"i", 1}, {"d", {{"password", contract::kLocalPassword}}}});
        EXPECT_EQ(read(), Json({{"v", 1}, {"c", 1}, {"i", 1}}));
        return read();
    }

    void send(const Json& object)
    {
        const auto wire = packetBytes(object);
        ASSERT_EQ(::write(fd_, wire.data(), wire.size()), static_cast<ssize_t>(wire.size()));
    }
    // One request under the next id; its reply, past any push that comes first.
    Json request(std::uint64_t t, const Json& data = nullptr, std::int64_t code = 1)
    {
        const auto id = nextId_++;
        Json packet{{"v", 1}, {"c", code}, {"i", id}, {"t", t}};
        if (!data.is_null())
            packet["d"] = data;
        send(packet);
        return readUntil([&](const Json& p) { return p.value("i", std::int64_t{0}) == id; });
    }
    Json data(std::uint64_t t, const Json& data = nullptr) { return request(t, data).value("d", Json()); }
    std::vector<Json> tunnels(std::uint64_t t, const Json& data = nullptr)
    {
        const auto reply = request(t, data);
        std::vector<Json> records;
        for (const auto& text : reply["d"]["tunnels"])
            records.push_back(Json::parse(text.get<std::string>()));
        return records;
    }
    Json readUntil(const std::function<bool(const Json&)>& wanted)
    {
        for (Json packet = read();; packet = read()) {
            if (packet.is_null() || wanted(packet))
                return packet;
        }
    }
    // The next packet, or null when the service closed the connection (or said nothing in time).
    Json read()
    {
        for (;;) {
            if (const auto end = buffer_.find("\xDB\xBC"); end != std::string::npos) {
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer_.data());
                const auto packet = packetJson(std::span(bytes, end + 2));
                buffer_.erase(0, end + 2);
                return packet;
            }
            char chunk[65536];
            const auto count = ::read(fd_, chunk, sizeof chunk);
            if (count <= 0)
                return nullptr;
            buffer_.append(chunk, static_cast<std::size_t>(count));
        }
    }

private:
    int fd_ = -1;
    std::string buffer_;
    std::int64_t nextId_ = 2;
};

} // namespace vd::test
