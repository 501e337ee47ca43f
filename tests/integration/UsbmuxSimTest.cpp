#include <cstring>
#include <future>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "SimHarness.h"
#include "UsbmuxSimulator.h"
#include "link/PTUSBHub.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

std::string xmlRequest(const std::string& body)
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>)"
           R"(<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">)"
           R"(<plist version="1.0"><dict>)" +
           body + "</dict></plist>";
}

std::string connectBody(std::uint32_t deviceId, std::uint32_t portNumber)
{
    return "<key>MessageType</key><string>Connect</string><key>DeviceID</key><integer>" + std::to_string(deviceId) +
           "</integer><key>PortNumber</key><integer>" + std::to_string(portNumber) + "</integer>";
}

const std::string kListenBody = "<key>MessageType</key><string>Listen</string>";
// Port 6171 as the client puts it into "PortNumber": its two bytes exchanged.
constexpr std::uint32_t kSwapped6171 = 6936;

struct DaemonPacket {
    std::uint32_t size = 0, protocol = 0, type = 0, tag = 0;
    std::string payload;
    json message;
};

struct Frame {
    std::uint32_t version = 0, type = 0, tag = 0;
    Bytes payload;
};

std::uint32_t wordAt(const Bytes& b, std::size_t at, bool bigEndian)
{
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= std::uint32_t(b[at + static_cast<std::size_t>(i)]) << (bigEndian ? 24 - 8 * i : 8 * i);
    return value;
}

// A daemon client written byte by byte: daemon packets have a little-endian header, the frames
// on a device stream a big-endian one.
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
    bool connected() const { return connected_; }

    bool request(std::uint32_t tag, const std::string& body, std::uint32_t protocol = 1)
    {
        const std::string xml = xmlRequest(body);
        Bytes packet = header({std::uint32_t(16 + xml.size()), protocol, 8, tag}, false);
        packet.insert(packet.end(), xml.begin(), xml.end());
        return write(packet);
    }
    std::optional<DaemonPacket> readPacket()
    {
        const auto head = read(16);
        const auto payload = head ? read(wordAt(*head, 0, false) - 16) : std::nullopt;
        if (!payload)
            return std::nullopt;
        DaemonPacket packet{wordAt(*head, 0, false), wordAt(*head, 4, false), wordAt(*head, 8, false), wordAt(*head, 12, false),
                            std::string(payload->begin(), payload->end()), nullptr};
        std::optional<Error> error;
        if (const auto parsed = usbmux::parsePlist(payload->data(), payload->size(), error))
            packet.message = json::parse(parsed->dump());
        return packet;
    }
    // The "Number" of the next packet, which must be the result of the request with this tag.
    std::optional<std::uint64_t> resultFor(std::uint32_t tag)
    {
        const auto packet = readPacket();
        // A property-list packet (protocol 1, type 8) whose size counts its 16-byte header.
        if (!packet || packet->tag != tag || packet->protocol != 1 || packet->type != 8 || packet->size != 16 + packet->payload.size() ||
            !packet->payload.starts_with("<?xml") || packet->message.value("MessageType", "") != "Result")
            return std::nullopt;
        return packet->message["Number"].get<std::uint64_t>();
    }

    bool sendFrame(std::uint32_t type, std::uint32_t tag, const Bytes& payload, std::uint32_t version = 1)
    {
        Bytes bytes = header({version, type, tag, std::uint32_t(payload.size())}, true);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        return write(bytes);
    }
    std::optional<Frame> readFrame()
    {
        const auto head = read(16);
        auto payload = head ? read(wordAt(*head, 12, true)) : std::nullopt;
        if (!payload)
            return std::nullopt;
        return Frame{wordAt(*head, 0, true), wordAt(*head, 4, true), wordAt(*head, 8, true), std::move(*payload)};
    }

    // True when the daemon closed the stream (whatever it still sent before is skipped).
    bool waitForClose()
    {
        while (read(1)) {
        }
        return closed_;
    }

private:
    static Bytes header(std::initializer_list<std::uint32_t> fields, bool bigEndian)
    {
        Bytes bytes;
        for (const std::uint32_t field : fields)
            for (int i = 0; i < 4; ++i)
                bytes.push_back(std::uint8_t(field >> (bigEndian ? 24 - 8 * i : 8 * i)));
        return bytes;
    }
    bool write(const Bytes& bytes) { return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size()); }
    std::optional<Bytes> read(std::size_t count)
    {
        Bytes out(count);
        for (std::size_t have = 0; have < count;) {
            pollfd entry{fd_, POLLIN, 0};
            if (::poll(&entry, 1, 5000) <= 0)
                return std::nullopt;
            const auto got = ::recv(fd_, out.data() + have, count - have, 0);
            closed_ = got <= 0;
            if (closed_)
                return std::nullopt;
            have += static_cast<std::size_t>(got);
        }
        return out;
    }

    int fd_ = -1;
    bool connected_ = false;
    bool closed_ = false;
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

class UsbmuxSimTest : public ::testing::Test {
protected:
    test::TempDir dir;
    UsbmuxHarness daemon{dir / "usbmuxd"};
};

TEST_F(UsbmuxSimTest, RequestsThatCannotBeServedGetTheirResultNumbers)
{
    test::TempDir serviceDir;
    daemon.simulator.forwardPort(7, 6171, serviceDir / "nobody-listens");
    daemon.simulator.forwardPort(8, 6171, serviceDir / "nobody-listens");
    daemon.simulator.attach(7);
    daemon.simulator.attach(9);
    const struct {
        const char* what;
        std::string body;
        std::uint32_t protocol;
        std::uint64_t number;
    } cases[] = {
        {"a device never seen", connectBody(42, kSwapped6171), 1, 2},
        {"a device with ports but not attached", connectBody(8, kSwapped6171), 1, 2},
        {"a port that leads nowhere", connectBody(9, kSwapped6171), 1, 3},
        {"a service that does not accept", connectBody(7, kSwapped6171), 1, 3},
        {"a message the daemon does not know", "<key>MessageType</key><string>ReadBUID</string>", 1, 1},
        {"a packet protocol other than property lists", kListenBody, 0, 6},
        {"a listen, which it serves", kListenBody, 1, 0},
    };
    // One connection serves one request after another while none of them connects.
    DaemonClient client(dir / "usbmuxd");
    std::uint32_t tag = 0;
    for (const auto& [what, body, protocol, number] : cases) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(client.request(++tag, body, protocol));
        EXPECT_EQ(client.resultFor(tag), number);
    }
}

class UsbmuxSimServiceTest : public UsbmuxSimTest {
protected:
    void SetUp() override
    {
        daemon.simulator.forwardPort(9, 6171, serviceSocket);
        daemon.simulator.attach(9);
    }

    // A connected device stream and the service's greeting, its first frame.
    std::unique_ptr<DaemonClient> connectToService(std::optional<Frame>& greeting)
    {
        auto client = std::make_unique<DaemonClient>(dir / "usbmuxd");
        EXPECT_TRUE(client->request(1, connectBody(9, kSwapped6171)));
        EXPECT_EQ(client->resultFor(1), 0u);
        greeting = client->readFrame();
        EXPECT_TRUE(greeting);
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

TEST_F(UsbmuxSimServiceTest, DeviceStreamCarriesEachPacketInAFrameOfItsOwn)
{
    DaemonClient unswapped(dir / "usbmuxd");
    ASSERT_TRUE(unswapped.request(1, connectBody(9, 6171)));
    EXPECT_EQ(unswapped.resultFor(1), 3u) << "the port's bytes unswapped name port 6936, which leads nowhere";
    std::optional<Frame> greeting;
    const auto client = connectToService(greeting);
    ASSERT_TRUE(greeting);
    EXPECT_EQ(greeting->version, 1u);
    EXPECT_EQ(greeting->type, 3004u);
    EXPECT_EQ(greeting->tag, sim::UsbmuxSimulator::kServiceFrameTag);
    ASSERT_GE(greeting->payload.size(), 2u);
    EXPECT_EQ(greeting->payload[greeting->payload.size() - 2], 0xDB);
    EXPECT_EQ(greeting->payload.back(), 0xBC);
    EXPECT_EQ(packetJson(greeting->payload)["m"], contract::kGreetingToken);

    // A frame of another type means nothing to the service and must not reach it; nor does an
    // empty one.
    ASSERT_TRUE(client->sendFrame(77, 898, {'x', 'y'}));
    ASSERT_TRUE(client->sendFrame(3004, 898, {}));
    // Both login packets in one frame: the service reads a stream, so it answers both, and each
    // answer comes back in a frame of its own.
    Bytes both = packetBytes({{"v", 1}, {"c", 1}, {"i", 0}});
    const Bytes password = packetBytes({{"v", 1}, {"c", 1}, {"i", 1}, {"d", {{"password", contract::kLocalPassword}}}});
    both.insert(both.end(), password.begin(), password.end());
    ASSERT_TRUE(client->sendFrame(3004, 898, both));
    const auto identity = client->readFrame();
    const auto login = client->readFrame();
    ASSERT_TRUE(identity && login);
    EXPECT_EQ(identity->type, 3004u);
    EXPECT_EQ(packetJson(identity->payload)["c"], contract::kCodeIdentityAccepted);
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

TEST_F(UsbmuxSimServiceTest, DeviceStreamEnds)
{
    const struct {
        const char* what;
        std::function<void(DaemonClient&)> end;
    } cases[] = {
        {"the device is detached", [&](DaemonClient&) { daemon.simulator.detach(9); }},
        {"the service goes away", [&](DaemonClient&) { service.closeAllConnections(); }},
        {"the client sends a frame of a version it must not", [](DaemonClient& c) { ASSERT_TRUE(c.sendFrame(3004, 999, {}, 2)); }},
        {"the client ends the stream with a frame of type 0", [](DaemonClient& c) { ASSERT_TRUE(c.sendFrame(0, 0, {})); }},
    };
    for (const auto& [what, end] : cases) {
        SCOPED_TRACE(what);
        daemon.simulator.attach(9);
        std::optional<Frame> greeting;
        const auto client = connectToService(greeting);
        end(*client);
        EXPECT_TRUE(client->waitForClose());
    }
}

} // namespace
} // namespace vd
