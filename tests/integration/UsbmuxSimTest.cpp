#include <gtest/gtest.h>

#include "SimHarness.h"
#include "UsbmuxHarness.h"
#include "WireClient.h"
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

// A client of the simulated daemon, byte by byte: daemon packets have a little-endian header,
// the frames on a device stream a big-endian one.
class MuxClient {
public:
    explicit MuxClient(const std::filesystem::path& path) : fd_(test::connectUnix(path)) {}
    ~MuxClient() { ::close(fd_); }

    // The "Number" of the result of this request, which must be a whole property-list packet
    // (protocol 1, type 8) with the request's tag and a size that counts its 16-byte header.
    std::optional<std::uint64_t> resultOf(std::uint32_t tag, const PTPlistMessage& request)
    {
        const auto reply = test::sendAll(fd_, usbmux::encodePacket(tag, usbmux::toXmlPlist(request)))
                               ? test::readDaemonPacket(fd_) : std::nullopt;
        if (!reply || reply->tag != tag || reply->protocol != 1 || reply->type != 8 ||
            reply->size != 16 + reply->payload.size() || !reply->payload.starts_with("<?xml") ||
            reply->message.value("MessageType", "") != "Result")
            return std::nullopt;
        return reply->message["Number"].get<std::uint64_t>();
    }
    bool sendFrame(std::uint32_t type, const Bytes& payload, std::uint8_t version = 1)
    {
        return test::sendAll(fd_, test::frameBytes(version, type, 898, payload));
    }
    std::optional<test::Frame> readFrame() { return test::readFrame(fd_); }
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

// The simulated daemon with device 9's service port carried to a simulated service. What other
// tests rely on: it refuses what a real daemon refuses, and carries the service's packets in
// frames of their own.
class UsbmuxSimTest : public ::testing::Test {
protected:
    UsbmuxSimTest() { daemon.simulator.forwardPort(9, 6171, dir / "db.connect"); }

    // A connected stream to device 9's service port, and the service's greeting, its first frame.
    std::unique_ptr<MuxClient> connectToService(std::optional<test::Frame>& greeting)
    {
        daemon.simulator.attach(9);
        auto client = std::make_unique<MuxClient>(dir / "usbmuxd");
        EXPECT_EQ(client->resultOf(1, connectTo(9, kSwapped6171)), 0u);
        greeting = client->readFrame();
        EXPECT_TRUE(greeting);
        return client;
    }

    test::TempDir dir;
    test::UsbmuxHarness daemon{dir / "usbmuxd"};
    test::SimHarness service{{.socketPath = dir / "db.connect", .tickInterval = 0ms}};
};

TEST_F(UsbmuxSimTest, ConnectsOnlyToTheServicePortOfAnAttachedDevice)
{
    daemon.simulator.forwardPort(8, 6171, dir / "db.connect");
    daemon.simulator.attach(9);
    daemon.simulator.attach(10);
    const struct {
        const char* what;
        PTPlistMessage request;
        std::uint64_t number;
    } cases[] = {
        {"a device with ports but not attached", connectTo(8, kSwapped6171), 2},
        {"a port that leads nowhere", connectTo(10, kSwapped6171), 3},
        {"the port's bytes unswapped: port 6936", connectTo(9, 6171), 3},
        {"a listen, which it serves", {{"MessageType", "Listen"}}, 0},
    };
    // One connection serves one request after another while none of them connects.
    MuxClient client(dir / "usbmuxd");
    std::uint32_t tag = 0;
    for (const auto& [what, request, number] : cases)
        EXPECT_EQ(client.resultOf(++tag, request), number) << what;
}

TEST_F(UsbmuxSimTest, DeviceStreamCarriesEachPacketInAFrameOfItsOwnUntilItEnds)
{
    std::optional<test::Frame> greeting;
    auto client = connectToService(greeting);
    ASSERT_TRUE(greeting);
    EXPECT_EQ(std::tuple(greeting->version, greeting->type, greeting->tag),
              std::tuple(1u, 3004u, sim::UsbmuxSimulator::kServiceFrameTag));
    ASSERT_TRUE(greeting->payload.size() >= 2 && greeting->payload.back() == 0xBC) << "one whole packet";
    EXPECT_EQ(test::packetJson(greeting->payload)["m"], contract::kGreetingToken);

    // A frame of another type, or an empty one, must not reach the service. Both login packets
    // in one frame: the service reads a stream and answers both, each in a frame of its own.
    ASSERT_TRUE(client->sendFrame(77, {'x', 'y'}));
    ASSERT_TRUE(client->sendFrame(3004, {}));
    Bytes both = test::packetBytes({{"v", 1}, {"c", 1}, {"i", 0}});
    const json login{{"v", 1}, {"c", 1}, {"i", 1}, {"d", {{"password", contract::kLocalPassword}}}};
    const Bytes password = test::packetBytes(login);
    both.insert(both.end(), password.begin(), password.end());
    ASSERT_TRUE(client->sendFrame(3004, both));
    for (const auto code : {contract::kCodeIdentityAccepted, contract::kCodeSuccess}) {
        const auto answer = client->readFrame();
        ASSERT_TRUE(answer && answer->type == 3004u);
        EXPECT_EQ(test::packetJson(answer->payload)["c"], code);
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
        {"the client sends a frame of a version it must not", [](MuxClient& c) { c.sendFrame(3004, {}, 2); }},
        {"the client ends the stream with a frame of type 0", [](MuxClient& c) { c.sendFrame(0, {}); }},
    };
    for (const auto& [what, end] : ends) {
        SCOPED_TRACE(what);
        client = connectToService(greeting);
        end(*client);
        EXPECT_TRUE(client->endsSoon());
    }
}

} // namespace
} // namespace vd
