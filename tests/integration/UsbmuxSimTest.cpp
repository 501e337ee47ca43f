#include <cstring>
#include <future>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <plist/plist.h>

#include "SimHarness.h"
#include "UsbmuxSimulator.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

json fromPlist(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
        json object = json::object();
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, iter, &key, &value);
            if (!key)
                break;
            object[key] = fromPlist(value);
            std::free(key);
        }
        std::free(iter);
        return object;
    }
    case PLIST_STRING: {
        char* text = nullptr;
        plist_get_string_val(node, &text);
        json value = text;
        std::free(text);
        return value;
    }
    case PLIST_UINT: {
        std::uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return value;
    }
    default:
        return "unexpected plist node";
    }
}

std::string xmlRequest(const std::string& body)
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>)"
           R"(<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">)"
           R"(<plist version="1.0"><dict>)" +
           body + "</dict></plist>";
}

std::string connectBody(std::uint32_t deviceId, std::uint32_t portNumber)
{
    return "<key>MessageType</key><string>Connect</string><key>DeviceID</key><integer>" +
           std::to_string(deviceId) + "</integer><key>PortNumber</key><integer>" + std::to_string(portNumber) +
           "</integer>";
}

const std::string kListenBody = "<key>MessageType</key><string>Listen</string>";

struct DaemonPacket {
    std::uint32_t size = 0, protocol = 0, type = 0, tag = 0;
    std::string payload;
    json message;
};

struct Frame {
    std::uint32_t version = 0, type = 0, tag = 0;
    Bytes payload;
};

std::uint32_t le32(const Bytes& b, std::size_t at)
{
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}
std::uint32_t be32(const Bytes& b, std::size_t at)
{
    return std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 | std::uint32_t(b[at + 2]) << 8 |
           std::uint32_t(b[at + 3]);
}

// A daemon client written byte by byte, so the simulator's wire is checked from outside.
class DaemonClient {
public:
    explicit DaemonClient(const std::filesystem::path& path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~DaemonClient() { ::close(fd_); }
    DaemonClient(const DaemonClient&) = delete;
    DaemonClient& operator=(const DaemonClient&) = delete;

    bool connected() const { return connected_; }

    bool request(std::uint32_t tag, const std::string& body, std::uint32_t protocol = 1)
    {
        const std::string xml = xmlRequest(body);
        Bytes packet;
        for (const std::uint32_t field : {std::uint32_t(16 + xml.size()), protocol, std::uint32_t(8), tag})
            for (int shift = 0; shift < 32; shift += 8)
                packet.push_back(std::uint8_t(field >> shift));
        packet.insert(packet.end(), xml.begin(), xml.end());
        return write(packet);
    }

    std::optional<DaemonPacket> readPacket(std::chrono::milliseconds timeout = 5s)
    {
        const auto header = read(16, timeout);
        if (!header)
            return std::nullopt;
        DaemonPacket packet{le32(*header, 0), le32(*header, 4), le32(*header, 8), le32(*header, 12), {}, nullptr};
        const auto payload = read(packet.size - 16, timeout);
        if (!payload)
            return std::nullopt;
        packet.payload.assign(payload->begin(), payload->end());
        plist_t parsed = nullptr;
        plist_from_memory(packet.payload.data(), static_cast<std::uint32_t>(packet.payload.size()), &parsed);
        if (parsed) {
            packet.message = fromPlist(parsed);
            plist_free(parsed);
        }
        return packet;
    }

    // The "Number" of the next packet, which must be the result of the request with this tag.
    std::optional<std::uint64_t> resultFor(std::uint32_t tag)
    {
        const auto packet = readPacket();
        if (!packet || packet->tag != tag || packet->message.value("MessageType", "") != "Result" ||
            !packet->message.contains("Number"))
            return std::nullopt;
        return packet->message["Number"].get<std::uint64_t>();
    }

    bool sendFrame(std::uint32_t type, std::uint32_t tag, const Bytes& payload, std::uint32_t version = 1)
    {
        Bytes bytes;
        for (const std::uint32_t field : {version, type, tag, std::uint32_t(payload.size())})
            for (int shift = 24; shift >= 0; shift -= 8)
                bytes.push_back(std::uint8_t(field >> shift));
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        return write(bytes);
    }

    std::optional<Frame> readFrame(std::chrono::milliseconds timeout = 5s)
    {
        const auto header = read(16, timeout);
        if (!header)
            return std::nullopt;
        Frame frame{be32(*header, 0), be32(*header, 4), be32(*header, 8), {}};
        auto payload = read(be32(*header, 12), timeout);
        if (!payload)
            return std::nullopt;
        frame.payload = std::move(*payload);
        return frame;
    }

    // True when nothing at all arrives within the time (and the stream stays open).
    bool silentFor(std::chrono::milliseconds time)
    {
        pollfd entry{fd_, POLLIN, 0};
        return ::poll(&entry, 1, static_cast<int>(time.count())) == 0;
    }

    bool waitForClose(std::chrono::milliseconds timeout = 5s)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::uint8_t byte = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd entry{fd_, POLLIN, 0};
            if (::poll(&entry, 1, 50) > 0) {
                const auto count = ::recv(fd_, &byte, 1, 0);
                if (count <= 0)
                    return true;
            }
        }
        return false;
    }

private:
    bool write(const Bytes& bytes)
    {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }

    std::optional<Bytes> read(std::size_t count, std::chrono::milliseconds timeout)
    {
        Bytes out(count);
        std::size_t have = 0;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (have < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd entry{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0)
                return std::nullopt;
            const auto got = ::recv(fd_, out.data() + have, count - have, 0);
            if (got <= 0)
                return std::nullopt;
            have += static_cast<std::size_t>(got);
        }
        return out;
    }

    int fd_ = -1;
    bool connected_ = false;
};

// The simulator on its own thread, as a daemon is its own process.
class UsbmuxHarness {
public:
    explicit UsbmuxHarness(const std::filesystem::path& path) : simulator(context_, path)
    {
        if (const auto error = simulator.start())
            throw std::runtime_error(*error);
        thread_ = std::thread([this] { context_.run(); });
    }
    ~UsbmuxHarness()
    {
        std::promise<void> stopped;
        asio::post(context_, [&] {
            simulator.stop();
            stopped.set_value();
        });
        stopped.get_future().wait();
        guard_.reset();
        context_.stop();
        thread_.join();
    }

private:
    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> guard_ = asio::make_work_guard(context_);

public:
    sim::UsbmuxSimulator simulator;

private:
    std::thread thread_;
};

Bytes packetBytes(const json& object)
{
    QNComPacket packet;
    packet.dic() = QNComPacket::Dictionary::parse(object.dump());
    return *packet.toData();
}

json packetJson(const Bytes& bytes)
{
    const auto packet = QNComPacket::initWithData(bytes);
    return packet ? json::parse(packet->dic().dump()) : json("undecodable");
}

// Port 6171 as the client puts it into "PortNumber": its two bytes exchanged.
constexpr std::uint32_t kSwapped6171 = 6936;

class UsbmuxSimTest : public ::testing::Test {
protected:
    test::TempDir dir;
    UsbmuxHarness daemon{dir / "usbmuxd"};
};

TEST_F(UsbmuxSimTest, ListenIsAnsweredInXmlAndThenCarriesBroadcasts)
{
    DaemonClient listener(dir / "usbmuxd");
    DaemonClient bystander(dir / "usbmuxd");
    ASSERT_TRUE(listener.connected() && bystander.connected());
    ASSERT_TRUE(listener.request(1, kListenBody));

    const auto result = listener.readPacket();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->size, 16 + result->payload.size());
    EXPECT_EQ(result->protocol, 1u);
    EXPECT_EQ(result->type, 8u);
    EXPECT_EQ(result->tag, 1u);
    EXPECT_EQ(result->payload.rfind("<?xml", 0), 0u);
    EXPECT_EQ(result->message, json({{"MessageType", "Result"}, {"Number", 0}}));

    daemon.simulator.attach(5, {{"SerialNumber", "abc"}, {"ProductID", 4776}});
    const auto attached = listener.readPacket();
    ASSERT_TRUE(attached);
    EXPECT_EQ(attached->tag, 0u);
    EXPECT_EQ(attached->payload.rfind("<?xml", 0), 0u);
    EXPECT_EQ(attached->message,
              json({{"MessageType", "Attached"},
                    {"DeviceID", 5},
                    {"Properties", {{"SerialNumber", "abc"}, {"ProductID", 4776}, {"DeviceID", 5}}}}));

    daemon.simulator.detach(5);
    const auto detached = listener.readPacket();
    ASSERT_TRUE(detached);
    EXPECT_EQ(detached->tag, 0u);
    EXPECT_EQ(detached->message, json({{"MessageType", "Detached"}, {"DeviceID", 5}}));

    // A second detach of a device that is gone says nothing; nor do broadcasts reach a
    // connection that never listened.
    daemon.simulator.detach(5);
    EXPECT_TRUE(listener.silentFor(100ms));
    EXPECT_TRUE(bystander.silentFor(10ms));
}

TEST_F(UsbmuxSimTest, LateListenerLearnsOfDevicesAlreadyPresent)
{
    daemon.simulator.attach(3);
    daemon.simulator.attach(4);
    daemon.simulator.detach(4);

    DaemonClient listener(dir / "usbmuxd");
    ASSERT_TRUE(listener.request(1, kListenBody));
    EXPECT_EQ(listener.resultFor(1), 0u);
    const auto attached = listener.readPacket();
    ASSERT_TRUE(attached);
    EXPECT_EQ(attached->message["MessageType"], "Attached");
    EXPECT_EQ(attached->message["DeviceID"], 3);
    EXPECT_TRUE(listener.silentFor(100ms));
}

TEST_F(UsbmuxSimTest, RequestsThatCannotBeServedGetTheirResultNumbers)
{
    test::TempDir serviceDir;
    daemon.simulator.forwardPort(7, 6171, serviceDir / "nobody-listens");
    daemon.simulator.forwardPort(8, 6171, serviceDir / "nobody-listens");
    daemon.simulator.attach(7);
    daemon.simulator.attach(9);

    // One connection serves one request after another while none of them connects.
    DaemonClient client(dir / "usbmuxd");
    ASSERT_TRUE(client.request(1, connectBody(42, kSwapped6171)));
    EXPECT_EQ(client.resultFor(1), 2u) << "a device never seen";
    ASSERT_TRUE(client.request(2, connectBody(8, kSwapped6171)));
    EXPECT_EQ(client.resultFor(2), 2u) << "a device with ports but not attached";
    ASSERT_TRUE(client.request(3, connectBody(9, kSwapped6171)));
    EXPECT_EQ(client.resultFor(3), 3u) << "a port that leads nowhere";
    ASSERT_TRUE(client.request(4, connectBody(7, kSwapped6171)));
    EXPECT_EQ(client.resultFor(4), 3u) << "a service that does not accept";
    ASSERT_TRUE(client.request(5, "<key>MessageType</key><string>ReadBUID</string>"));
    EXPECT_EQ(client.resultFor(5), 1u) << "a message the daemon does not know";
    ASSERT_TRUE(client.request(6, kListenBody, 0));
    EXPECT_EQ(client.resultFor(6), 6u) << "a packet protocol other than property lists";
}

class UsbmuxSimServiceTest : public UsbmuxSimTest {
protected:
    void SetUp() override
    {
        daemon.simulator.forwardPort(9, 6171, serviceSocket);
        daemon.simulator.attach(9);
    }

    // A connected device stream, the service's greeting already read.
    std::unique_ptr<DaemonClient> connectToService()
    {
        auto client = std::make_unique<DaemonClient>(dir / "usbmuxd");
        EXPECT_TRUE(client->request(1, connectBody(9, kSwapped6171)));
        EXPECT_EQ(client->resultFor(1), 0u);
        const auto greeting = client->readFrame();
        EXPECT_TRUE(greeting);
        if (greeting) {
            EXPECT_EQ(packetJson(greeting->payload)["m"], contract::kGreetingToken);
        }
        return client;
    }

    test::TempDir serviceDir;
    std::filesystem::path serviceSocket = serviceDir / "db.connect";
    test::SimHarness service{[this] {
        sim::SimulatorOptions options;
        options.socketPath = serviceSocket;
        options.tickInterval = 0ms;
        return options;
    }()};
};

TEST_F(UsbmuxSimServiceTest, DeviceStreamCarriesTheLoginAsFrames)
{
    DaemonClient client(dir / "usbmuxd");
    // The port's bytes unswapped name port 6936, which leads nowhere.
    ASSERT_TRUE(client.request(1, connectBody(9, 6171)));
    ASSERT_EQ(client.resultFor(1), 3u);
    ASSERT_TRUE(client.request(2, connectBody(9, kSwapped6171)));
    ASSERT_EQ(client.resultFor(2), 0u);

    const auto greeting = client.readFrame();
    ASSERT_TRUE(greeting);
    EXPECT_EQ(greeting->version, 1u);
    EXPECT_EQ(greeting->type, 3004u);
    EXPECT_EQ(greeting->tag, sim::UsbmuxSimulator::kServiceFrameTag);
    ASSERT_GE(greeting->payload.size(), 2u);
    EXPECT_EQ(greeting->payload[greeting->payload.size() - 2], 0xDB);
    EXPECT_EQ(greeting->payload.back(), 0xBC);
    EXPECT_EQ(packetJson(greeting->payload)["m"], contract::kGreetingToken);

    // A frame of another type means nothing to the service and must not reach it.
    ASSERT_TRUE(client.sendFrame(77, 898, {'x', 'y'}));
    ASSERT_TRUE(client.sendFrame(3004, 898, {}));
    ASSERT_TRUE(client.sendFrame(3004, 898, packetBytes({{"v", 1}, {"c", 1}, {"i", 0}})));
    const auto identity = client.readFrame();
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->type, 3004u);
    EXPECT_EQ(packetJson(identity->payload)["c"], contract::kCodeIdentityAccepted);

    ASSERT_TRUE(client.sendFrame(3004, 898,
                                 packetBytes({{"v", 1}, {"c", 1}, {"i", 1}, {"d", {{"password", contract::kLocalPassword}}}})));
    const auto login = client.readFrame();
    ASSERT_TRUE(login);
    EXPECT_EQ(login->type, 3004u);
    EXPECT_EQ(packetJson(login->payload)["c"], contract::kCodeSuccess);

    ASSERT_TRUE(service.waitForReceived(2));
    const auto received = service.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0]["i"], 0);
    EXPECT_EQ(received[1]["i"], 1);
    for (const auto& line : service.lines())
        EXPECT_FALSE(line.contains("protocol_error")) << line;
}

TEST_F(UsbmuxSimServiceTest, PacketsSentTogetherArriveInFramesOfTheirOwn)
{
    auto client = connectToService();
    Bytes both = packetBytes({{"v", 1}, {"c", 1}, {"i", 0}});
    const Bytes password = packetBytes({{"v", 1}, {"c", 1}, {"i", 1}, {"d", {{"password", contract::kLocalPassword}}}});
    both.insert(both.end(), password.begin(), password.end());
    // Both packets in one frame: the service reads a stream, so it answers both, and each
    // answer comes back in its own frame.
    ASSERT_TRUE(client->sendFrame(3004, 999, both));
    const auto first = client->readFrame();
    const auto second = client->readFrame();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(packetJson(first->payload)["c"], contract::kCodeIdentityAccepted);
    EXPECT_EQ(packetJson(second->payload)["c"], contract::kCodeSuccess);
}

TEST_F(UsbmuxSimServiceTest, DeviceStreamEnds)
{
    {
        SCOPED_TRACE("the device is detached");
        auto client = connectToService();
        daemon.simulator.detach(9);
        EXPECT_TRUE(client->waitForClose());
        daemon.simulator.attach(9);
    }
    {
        SCOPED_TRACE("the service goes away");
        auto client = connectToService();
        service.closeAllConnections();
        EXPECT_TRUE(client->waitForClose());
    }
    {
        SCOPED_TRACE("the client sends a frame of a version it must not");
        auto client = connectToService();
        ASSERT_TRUE(client->sendFrame(3004, 999, {}, 2));
        EXPECT_TRUE(client->waitForClose());
    }
    {
        SCOPED_TRACE("the client ends the stream with a frame of type 0");
        auto client = connectToService();
        ASSERT_TRUE(client->sendFrame(0, 0, {}));
        EXPECT_TRUE(client->waitForClose());
    }
}

} // namespace
} // namespace vd
