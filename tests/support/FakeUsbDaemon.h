#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "link/PTUSBHub.h"
#include "platform/MainLoop.h"
#include "support/Listening.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace vd::test {

using Bytes = std::vector<std::uint8_t>;

// A 32-bit field: little-endian in a daemon packet's header, big-endian in a frame's.
inline std::uint32_t read32(const std::uint8_t* p, bool bigEndian)
{
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= std::uint32_t(p[bigEndian ? 3 - i : i]) << (8 * i);
    return value;
}

inline Bytes fields32(std::initializer_list<std::uint32_t> values, bool bigEndian)
{
    Bytes out;
    for (std::uint32_t v : values)
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<std::uint8_t>(v >> (8 * (bigEndian ? 3 - i : i))));
    return out;
}

// A daemon packet header: size (header included), protocol, type and tag.
inline Bytes header(std::uint32_t size, std::uint32_t protocol, std::uint32_t type, std::uint32_t tag)
{
    return fields32({size, protocol, type, tag}, false);
}

// Exactly `count` bytes from `fd`, waiting up to five seconds for each piece; false at the end
// of the stream or when nothing comes.
inline bool readExactly(int fd, std::uint8_t* out, std::size_t count)
{
    for (std::size_t got = 0; got < count;) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 5000) <= 0)
            return false;
        const ssize_t n = ::read(fd, out + got, count - got);
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

struct DaemonPacket {
    std::uint32_t size = 0, protocol = 0, type = 0, tag = 0;
    std::string payload;
    PTPlistMessage message;
};

// The next daemon packet on `fd`, its property list parsed when it is one.
inline std::optional<DaemonPacket> readDaemonPacket(int fd)
{
    std::uint8_t head[16];
    if (!readExactly(fd, head, 16))
        return std::nullopt;
    DaemonPacket packet{read32(head, false), read32(head + 4, false), read32(head + 8, false),
                        read32(head + 12, false), {}, {}};
    packet.payload.resize(packet.size - 16);
    if (!readExactly(fd, reinterpret_cast<std::uint8_t*>(packet.payload.data()), packet.payload.size()))
        return std::nullopt;
    std::optional<Error> error;
    if (auto parsed = usbmux::parsePlist(reinterpret_cast<const std::uint8_t*>(packet.payload.data()), packet.payload.size(), error))
        packet.message = *parsed;
    return packet;
}

// A frame of a device stream: big-endian version, type, tag and payload size, then the payload.
// `size` overrides the payload's own, to announce what never comes.
inline Bytes frameBytes(std::uint32_t version, std::uint32_t type, std::uint32_t tag, const Bytes& payload,
                        std::optional<std::uint32_t> size = std::nullopt)
{
    const auto announced = size.value_or(static_cast<std::uint32_t>(payload.size()));
    Bytes out = fields32({version, type, tag, announced}, true);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

struct Frame {
    std::uint32_t version = 0, type = 0, tag = 0;
    Bytes payload;
};

// The next whole frame on `fd`, or nothing at the end of the stream or when none comes.
inline std::optional<Frame> readFrame(int fd)
{
    std::uint8_t head[16];
    if (!readExactly(fd, head, 16))
        return std::nullopt;
    Frame frame{read32(head, true), read32(head + 4, true), read32(head + 8, true),
                Bytes(read32(head + 12, true))};
    return readExactly(fd, frame.payload.data(), frame.payload.size()) ? std::optional(frame) : std::nullopt;
}

inline bool sendAll(int fd, const Bytes& bytes)
{
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// Plays usbmuxd on a unix socket in a temporary folder that USBMUXD_SOCKET_ADDRESS points at,
// byte by byte, so a test sees exactly what a client sends.
class FakeDaemon {
public:
    explicit FakeDaemon(const std::filesystem::path& path) : address_("USBMUXD_SOCKET_ADDRESS", path.string())
    {
        listener_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const sockaddr_un address = unixAddress(path);
        EXPECT_EQ(::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(listener_, 8), 0);
    }
    ~FakeDaemon()
    {
        for (int fd : connections_)
            ::close(fd);
        ::close(listener_);
    }

    // Whether a client is waiting to be accepted, without waiting.
    bool incoming() const
    {
        pollfd pfd{listener_, POLLIN, 0};
        return ::poll(&pfd, 1, 0) > 0;
    }
    // Index of the accepted connection, or -1.
    int accept()
    {
        pollfd pfd{listener_, POLLIN, 0};
        if (::poll(&pfd, 1, 5000) <= 0)
            return -1;
        connections_.push_back(::accept(listener_, nullptr, nullptr));
        return static_cast<int>(connections_.size()) - 1;
    }

    // Accepts the next client and reads its first packet: the connection's index, or -1.
    int acceptRequest(std::optional<DaemonPacket>& request)
    {
        const int conn = accept();
        request = conn >= 0 ? readPacket(conn) : std::nullopt;
        return request ? conn : -1;
    }
    std::optional<DaemonPacket> readPacket(int index) { return readDaemonPacket(connections_[index]); }
    void send(int index, const Bytes& bytes) { sendAll(connections_[index], bytes); }
    void sendMessage(int index, std::uint32_t tag, const std::string& payload) { send(index, usbmux::encodePacket(tag, payload)); }
    void closeConnection(int index) { ::shutdown(connections_[index], SHUT_RDWR); }

private:
    ScopedEnv address_;
    int listener_ = -1;
    std::vector<int> connections_;
};

inline std::string resultPlist(int number)
{
    return usbmux::toXmlPlist({{"MessageType", "Result"}, {"Number", number}});
}

// A client on this test's main loop, against a daemon played in the test's temporary folder.
class FakeDaemonTest : public ::testing::Test {
protected:
    bool runUntil(const std::function<bool()>& met, std::chrono::milliseconds limit = std::chrono::seconds(5))
    {
        return loop_.runUntil(met, limit);
    }
    void attach(int conn, long long deviceID, PTPlistMessage properties = PTPlistMessage::object())
    {
        daemon_.sendMessage(conn, 0, usbmux::toXmlPlist({{"MessageType", "Attached"}, {"DeviceID", deviceID},
                                                          {"Properties", std::move(properties)}}));
    }

    MainLoop loop_;
    TempDir dir_;
    FakeDaemon daemon_{dir_ / "mux"};
};

} // namespace vd::test
