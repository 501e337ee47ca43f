#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "link/QNComPacket.h"
#include "link/ServiceContract.h"

namespace vd::test {

// A client that writes and reads every packet itself, so the test sees the service's wire as it
// is, field by field, without the client manager between.
class WireClient {
public:
    using Json = nlohmann::json;

    explicit WireClient(const std::filesystem::path& path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        timeval timeout{10, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
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
    bool connected() const { return connected_; }

    void send(const Json& object)
    {
        QNComPacket packet;
        packet.dic() = QNComPacket::Dictionary::parse(object.dump());
        const auto wire = *packet.toData();
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
            for (std::size_t i = 1; i < buffer_.size(); ++i) {
                if (static_cast<std::uint8_t>(buffer_[i - 1]) == 0xDB && static_cast<std::uint8_t>(buffer_[i]) == 0xBC) {
                    const auto packet = QNComPacket::initWithData(std::span(reinterpret_cast<const std::uint8_t*>(buffer_.data()), i + 1));
                    buffer_.erase(0, i + 1);
                    return packet ? Json::parse(packet->dic().dump()) : Json("undecodable");
                }
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
    bool connected_ = false;
    std::string buffer_;
    std::int64_t nextId_ = 2;
};

} // namespace vd::test
