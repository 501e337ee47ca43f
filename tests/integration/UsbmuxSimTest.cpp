#include <gtest/gtest.h>

#include "SimHarness.h"
#include "UsbmuxHarness.h"
#include "link/PTChannel.h"
#include "support/FakeUsbDaemon.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// Port 6171 as a client puts it into "PortNumber": its two bytes exchanged.
constexpr std::uint32_t kSwapped6171 = 6936;

PTPlistMessage connectTo(std::uint32_t deviceId, std::uint32_t portNumber)
{
    return {{"MessageType", "Connect"}, {"DeviceID", deviceId}, {"PortNumber", portNumber}};
}

struct Frame {
    std::uint32_t version = 0, type = 0, tag = 0;
    Bytes payload;
};

// A client of the simulated daemon, byte by byte: daemon packets have a little-endian header,
// the frames on a device stream a big-endian one.
class MuxClient {
public:
    explicit MuxClient(const std::filesystem::path& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0))
    {
        const sockaddr_un address = test::unixAddress(path);
        EXPECT_EQ(::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    }
    ~MuxClient() { ::close(fd_); }

    // The "Number" of the result of this request, which must be a whole property-list packet
    // (protocol 1, type 8) with the request's tag and a size that counts its 16-byte header.
    std::optional<std::uint64_t> resultOf(std::uint32_t tag, const PTPlistMessage& request, std::uint32_t protocol = 1)
    {
        const std::string xml = usbmux::toXmlPlist(request);
        test::Bytes bytes = test::header(static_cast<std::uint32_t>(16 + xml.size()), protocol, 8, tag);
        bytes.insert(bytes.end(), xml.begin(), xml.end());
        const auto reply = test::sendAll(fd_, bytes) ? test::readDaemonPacket(fd_) : std::nullopt;
        if (!reply || reply->tag != tag || reply->protocol != 1 || reply->type != 8 || reply->size != 16 + reply->payload.size() ||
            !reply->payload.starts_with("<?xml") || reply->message.value("MessageType", "") != "Result")
            return std::nullopt;
        return reply->message["Number"].get<std::uint64_t>();
    }
    bool sendFrame(std::uint32_t type, std::uint32_t tag, const Bytes& payload, std::uint8_t version = 1)
    {
        Bytes frame = PTProtocol::createFrame(type, tag, payload);
        frame[3] = version;
        return test::sendAll(fd_, frame);
    }
    std::optional<Frame> readFrame()
    {
        std::uint8_t head[16];
        if (!test::readExactly(fd_, head, 16))
            return std::nullopt;
        Frame frame{test::be32(head), test::be32(head + 4), test::be32(head + 8), Bytes(test::be32(head + 12))};
        return test::readExactly(fd_, frame.payload.data(), frame.payload.size()) ? std::optional(frame) : std::nullopt;
    }
    // True when the daemon closes the stream within five seconds (what it still sends is skipped).
    bool endsSoon()
    {
        for (std::uint8_t byte = 0;;) {
            pollfd pfd{fd_, POLLIN, 0};
            if (::poll(&pfd, 1, 5000) <= 0)
                return false;
            if (::read(fd_, &byte, 1) <= 0)
                return true;
        }
    }

private:
    int fd_;
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

class UsbmuxSimTest : public ::testing::Test {
protected:
    // A connected stream to device 9's service port, and the service's greeting, its first frame.
    std::unique_ptr<MuxClient> connectToService(std::optional<Frame>& greeting)
    {
        auto client = std::make_unique<MuxClient>(dir / "usbmuxd");
        EXPECT_EQ(client->resultOf(1, connectTo(9, kSwapped6171)), 0u);
        greeting = client->readFrame();
        EXPECT_TRUE(greeting);
        return client;
    }

    test::TempDir dir;
    test::UsbmuxHarness daemon{dir / "usbmuxd"};
    test::SimHarness service{[this] {
        sim::SimulatorOptions options;
        options.socketPath = dir / "db.connect";
        options.tickInterval = 0ms;
        return options;
    }()};
};

TEST_F(UsbmuxSimTest, RequestsGetTheirResultNumbers)
{
    daemon.simulator.forwardPort(7, 6171, dir / "nobody-listens");
    daemon.simulator.forwardPort(8, 6171, dir / "nobody-listens");
    daemon.simulator.forwardPort(9, 6171, dir / "db.connect");
    daemon.simulator.attach(7);
    daemon.simulator.attach(9);
    daemon.simulator.attach(10);
    const struct {
        const char* what;
        PTPlistMessage request;
        std::uint32_t protocol;
        std::uint64_t number;
    } cases[] = {
        {"a device never seen", connectTo(42, kSwapped6171), 1, 2},
        {"a device with ports but not attached", connectTo(8, kSwapped6171), 1, 2},
        {"a port that leads nowhere", connectTo(10, kSwapped6171), 1, 3},
        {"the port's bytes unswapped: port 6936", connectTo(9, 6171), 1, 3},
        {"a service that does not accept", connectTo(7, kSwapped6171), 1, 3},
        {"a message the daemon does not know", {{"MessageType", "ReadBUID"}}, 1, 1},
        {"a packet protocol other than property lists", {{"MessageType", "Listen"}}, 0, 6},
        {"a listen, which it serves", {{"MessageType", "Listen"}}, 1, 0},
    };
    // One connection serves one request after another while none of them connects.
    MuxClient client(dir / "usbmuxd");
    std::uint32_t tag = 0;
    for (const auto& [what, request, protocol, number] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(client.resultOf(++tag, request, protocol), number);
    }
}

TEST_F(UsbmuxSimTest, DeviceStreamCarriesEachPacketInAFrameOfItsOwnUntilItEnds)
{
    daemon.simulator.forwardPort(9, 6171, dir / "db.connect");
    daemon.simulator.attach(9);
    std::optional<Frame> greeting;
    auto client = connectToService(greeting);
    ASSERT_TRUE(greeting);
    EXPECT_EQ(greeting->version, 1u);
    EXPECT_EQ(greeting->type, 3004u);
    EXPECT_EQ(greeting->tag, sim::UsbmuxSimulator::kServiceFrameTag);
    ASSERT_GE(greeting->payload.size(), 2u);
    EXPECT_EQ(greeting->payload[greeting->payload.size() - 2], 0xDB);
    EXPECT_EQ(greeting->payload.back(), 0xBC);
    EXPECT_EQ(packetJson(greeting->payload)["m"], contract::kGreetingToken);

    // A frame of another type, or an empty one, must not reach the service. Both login packets
    // in one frame: the service reads a stream and answers both, each in a frame of its own.
    ASSERT_TRUE(client->sendFrame(77, 898, {'x', 'y'}));
    ASSERT_TRUE(client->sendFrame(3004, 898, {}));
    Bytes both = packetBytes({{"v", 1}, {"c", 1}, {"i", 0}});
    const Bytes password = packetBytes({{"v", 1}, {"c", 1}, {"i", 1}, {"d", {{"password", contract::kLocalPassword}}}});
    both.insert(both.end(), password.begin(), password.end());
    ASSERT_TRUE(client->sendFrame(3004, 898, both));
    for (const auto code : {contract::kCodeIdentityAccepted, contract::kCodeSuccess}) {
        const auto answer = client->readFrame();
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->type, 3004u);
        EXPECT_EQ(packetJson(answer->payload)["c"], code);
    }
    ASSERT_TRUE(service.waitForReceived(2));
    EXPECT_EQ(service.received().size(), 2u);
    for (const auto& line : service.lines())
        EXPECT_FALSE(line.contains("protocol_error")) << line;

    const struct {
        const char* what;
        std::function<void(MuxClient&)> end;
    } ends[] = {
        {"the device is detached", [&](MuxClient&) { daemon.simulator.detach(9); }},
        {"the service goes away", [&](MuxClient&) { service.closeAllConnections(); }},
        {"the client sends a frame of a version it must not", [](MuxClient& c) { ASSERT_TRUE(c.sendFrame(3004, 999, {}, 2)); }},
        {"the client ends the stream with a frame of type 0", [](MuxClient& c) { ASSERT_TRUE(c.sendFrame(0, 0, {})); }},
    };
    for (const auto& [what, end] : ends) {
        SCOPED_TRACE(what);
        daemon.simulator.attach(9);
        client = connectToService(greeting);
        end(*client);
        EXPECT_TRUE(client->endsSoon());
    }
}

} // namespace
} // namespace vd
