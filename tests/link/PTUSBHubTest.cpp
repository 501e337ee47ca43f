#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <plist/plist.h>
#include <sys/socket.h>
#include <unistd.h>

#include <asio/read.hpp>
#include <gtest/gtest.h>

#include "link/PTChannel.h"
#include "link/PTUSBHub.h"
#include "link/ServiceContract.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "support/FakeUsbDaemon.h"
#include "support/LoopbackListener.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::FakeDaemon;
using test::header;

std::string binaryPlist(const PTPlistMessage& message)
{
    plist_t root = nullptr;
    const std::string xml = usbmux::toXmlPlist(message);
    plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &root);
    char* bin = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(root, &bin, &length);
    std::string out(bin, length);
    plist_to_bin_free(bin);
    plist_free(root);
    return out;
}

TEST(PTUSBPacket, HeaderIsLittleEndianSizeProtocolTypeTagAndPortsAreByteSwapped)
{
    const Bytes packet = usbmux::encodePacket(1, "abc");
    EXPECT_EQ(packet, (Bytes{19, 0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0, 'a', 'b', 'c'}));
    const Bytes empty = usbmux::encodePacket(0x01020304, "");
    EXPECT_EQ(empty, (Bytes{16, 0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 4, 3, 2, 1}));
    // The port number goes out with its two bytes exchanged.
    EXPECT_EQ(usbmux::portNumberOnWire(6171), 6936u);
    EXPECT_EQ(usbmux::portNumberOnWire(0x1234), 0x3412u);
    EXPECT_EQ(usbmux::portNumberOnWire(0xFF), 0xFF00u);
}

TEST(PTUSBPacket, ResultNumbersMapToTexts)
{
    EXPECT_FALSE(usbmux::errorFromResult({{"Number", 0}}));
    const std::pair<int, const char*> table[] = {{1, "illegal command"}, {2, "unknown device"}, {3, "connection refused"},
                                                 {6, "invalid version"}, {4, "Unspecified error"}, {99, "Unspecified error"}};
    for (const auto& [number, text] : table) {
        auto error = usbmux::errorFromResult({{"Number", number}});
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain, "PTUSBHubError");
        EXPECT_EQ(error->code, number);
        EXPECT_EQ(error->description, text);
    }
    auto missing = usbmux::errorFromResult({{"MessageType", "Result"}});
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->code, 0);
    EXPECT_EQ(missing->description, "");
}

TEST(PTUSBPacket, ParsesXmlAndBinaryPlists)
{
    const PTPlistMessage message = {{"MessageType", "Attached"}, {"DeviceID", 7u}, {"Properties", {{"SerialNumber", "abc"}}}};
    const std::string xml = usbmux::toXmlPlist(message);
    EXPECT_EQ(xml.rfind("<?xml", 0), 0u);
    for (const std::string& encoded : {xml, binaryPlist(message)}) {
        std::optional<Error> error;
        auto parsed = usbmux::parsePlist(reinterpret_cast<const std::uint8_t*>(encoded.data()), encoded.size(), error);
        ASSERT_TRUE(parsed);
        EXPECT_EQ((*parsed)["DeviceID"].get<long long>(), 7);
        EXPECT_EQ((*parsed)["Properties"]["SerialNumber"], "abc");
    }
    std::optional<Error> error;
    const std::string junk = "not a plist at all";
    EXPECT_FALSE(usbmux::parsePlist(reinterpret_cast<const std::uint8_t*>(junk.data()), junk.size(), error));
    EXPECT_TRUE(error);
}

// Each level of a message costs a level of recursion when it is converted and logged, so a
// daemon sending 100,000 nested arrays once overflowed the stack.
TEST(PTUSBPacket, RefusesPlistsNestedTooDeep)
{
    const auto nested = [](int depth) {
        std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>MessageType</key><string>Attached</string><key>Properties</key>)";
        for (int i = 0; i < depth; ++i)
            xml += "<array>";
        for (int i = 0; i < depth; ++i)
            xml += "</array>";
        return xml + "</dict></plist>";
    };
    std::optional<Error> error;
    const std::string shallow = nested(8);
    EXPECT_TRUE(usbmux::parsePlist(reinterpret_cast<const std::uint8_t*>(shallow.data()), shallow.size(), error));
    EXPECT_FALSE(error);
    const std::string deep = nested(100000);
    EXPECT_FALSE(usbmux::parsePlist(reinterpret_cast<const std::uint8_t*>(deep.data()), deep.size(), error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description, "Could not parse the property list");
}

// A malformed closing tag leaves libplist with a string whose stored length disagrees with its
// text; its copying getter then failed an assertion and aborted the program.
TEST(PTUSBPacket, MalformedXmlStringsDoNotAbort)
{
    const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>DeviceID</ke9><integer>1</integer><key>MessageType</key><string>Attached</string>
<key>Properties</key><dict><key>ConnectionType</key><string>USB</string><key>DeviceID</key><integer>1</integer>
<key>SerialNumber</key><string>seed-device-1</string></dict></dict></plist>
)";
    std::optional<Error> error;
    const auto message = usbmux::parsePlist(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size(), error);
    EXPECT_TRUE(message || error);
}

class PTUSBHubTest : public ::testing::Test {
protected:
    // Starts `hub` listening and plays the daemon until its "Listen" request has come.
    int listen(PTUSBHub& hub)
    {
        started_.reset();
        ends_ = 0;
        hub.listenOnQueue(MainQueue::shared(), [this](std::optional<Error> e) { started_ = e; }, [this](std::optional<Error>) { ++ends_; });
        const int conn = daemon_.accept();
        if (conn >= 0)
            listenRequest_ = daemon_.readPacket(conn);
        return listenRequest_ ? conn : -1;
    }
    bool runUntil(const std::function<bool()>& done) { return loop_.runUntil(done, 5s); }
    // A second end would follow at once; a short wait is enough to see none.
    bool endedOnce() { return ends_ == 1 && !loop_.runUntil([&] { return ends_ > 1; }, 20ms); }

    MainLoop loop_;
    test::TempDir dir_;
    FakeDaemon daemon_{dir_ / "mux"};
    std::shared_ptr<NotificationCenter> center_ = NotificationCenter::create();
    std::shared_ptr<PTUSBHub> hub_ = PTUSBHub::create(center_);
    std::vector<Notification> seen_;
    ObservationToken attachObservation_ = center_->addObserver(kPTUSBDeviceDidAttachNotification, hub_.get(), [this](const Notification& n) { seen_.push_back(n); });
    ObservationToken detachObservation_ = center_->addObserver(kPTUSBDeviceDidDetachNotification, hub_.get(), [this](const Notification& n) { seen_.push_back(n); });
    std::optional<std::optional<Error>> started_;
    int ends_ = 0;
    std::optional<test::DaemonPacket> listenRequest_;
};

TEST_F(PTUSBHubTest, ListenSendsTagOneAndPostsAttachAndDetach)
{
    log::Capture capture;
    const int conn = listen(*hub_);
    ASSERT_GE(conn, 0);
    EXPECT_EQ(listenRequest_->protocol, 1u);
    EXPECT_EQ(listenRequest_->type, 8u);
    EXPECT_EQ(listenRequest_->tag, 1u);
    EXPECT_EQ(listenRequest_->payload.rfind("<?xml", 0), 0u);
    EXPECT_EQ(listenRequest_->message["MessageType"], "Listen");
    daemon_.sendMessage(conn, 1, usbmux::toXmlPlist({{"MessageType", "Result"}, {"Number", 0}}));
    ASSERT_TRUE(runUntil([&] { return started_.has_value(); }));
    EXPECT_FALSE(*started_);

    // A second listen on a listening hub succeeds at once.
    std::optional<std::optional<Error>> again;
    hub_->listenOnQueue(MainQueue::shared(), [&](std::optional<Error> e) { again = e; }, nullptr);
    ASSERT_TRUE(again && !*again);

    daemon_.sendMessage(conn, 0, binaryPlist({{"MessageType", "Attached"}, {"DeviceID", 5}, {"Properties", {{"ConnectionType", "USB"}}}}));
    daemon_.sendMessage(conn, 0, usbmux::toXmlPlist({{"MessageType", "Paired"}, {"DeviceID", 5}}));
    daemon_.sendMessage(conn, 42, usbmux::toXmlPlist({{"MessageType", "Result"}, {"Number", 0}}));
    daemon_.sendMessage(conn, 0, usbmux::toXmlPlist({{"MessageType", "Attached"}, {"DeviceID", 6}, {"Properties", PTPlistMessage::object()}}));
    ASSERT_TRUE(runUntil([&] { return seen_.size() == 2; }));
    EXPECT_EQ(hub_->attachedDevices().size(), 2u);
    daemon_.sendMessage(conn, 0, usbmux::toXmlPlist({{"MessageType", "Detached"}, {"DeviceID", 5}}));
    ASSERT_TRUE(runUntil([&] { return seen_.size() == 3; }));

    EXPECT_EQ(seen_[0].name, kPTUSBDeviceDidAttachNotification);
    EXPECT_EQ(seen_[0].object, hub_.get());
    EXPECT_EQ(std::any_cast<const PTPlistMessage&>(seen_[0].userInfo)["Properties"]["ConnectionType"], "USB");
    EXPECT_EQ(seen_[2].name, kPTUSBDeviceDidDetachNotification);
    EXPECT_EQ(hub_->attachedDevices().count(6), 1u);
    EXPECT_EQ(hub_->attachedDevices().count(5), 0u);
    const auto logged = [&](std::string_view start, std::string_view part) {
        return std::ranges::any_of(capture.lines(), [&](const std::string& line) { return line.starts_with(start) && line.find(part) != std::string::npos; });
    };
    EXPECT_TRUE(logged("Warning: Unhandled broadcast message: ", "Paired"));
    EXPECT_TRUE(logged("Warning: Ignoring reply packet for which there is no registered callback. Packet => ", ""));
    EXPECT_EQ(ends_, 0);

    daemon_.closeConnection(conn);
    ASSERT_TRUE(runUntil([&] { return ends_ == 1; }));
    EXPECT_TRUE(endedOnce());
}

// A bad packet fails the waiting "Listen" reply; one that cannot be framed also ends the
// connection, once.
TEST_F(PTUSBHubTest, BadPacketsFailThePendingReply)
{
    struct Case {
        const char* name;
        Bytes bytes;
        bool closeAfter;
        bool ends;
        std::optional<long long> code;
        std::string description;
    };
    const Case cases[] = {
        {"too small", header(8, 1, 8, 1), false, true, 0, "Received a packet that is too small"},
        {"too large", header(0xFFFFFFF0u, 1, 8, 1), false, true, 1, "Received a packet that is too large"},
        {"above the cap", header(static_cast<std::uint32_t>(contract::kMaxPacketBytes + 17), 1, 8, 1), false, true, 1, "Received a packet that is too large"},
        {"ends inside a packet", header(100, 1, 8, 1), true, true, std::nullopt, ""},
        {"ends inside a size", Bytes{100, 0}, true, true, std::nullopt, ""},
        {"wrong protocol", header(16, 2, 8, 1), false, false, 0, "Unexpected package protocol"},
        {"wrong type", header(16, 1, 7, 1), false, false, 0, "Unexpected package type"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto hub = PTUSBHub::create(center_);
        const int conn = listen(*hub);
        ASSERT_GE(conn, 0);
        daemon_.send(conn, c.bytes);
        if (c.closeAfter)
            daemon_.closeConnection(conn);
        ASSERT_TRUE(runUntil([&] { return started_.has_value() && ends_ == int(c.ends); }));
        ASSERT_TRUE(*started_);
        if (c.code) {
            EXPECT_EQ((*started_)->domain, "PTUSBHubError");
            EXPECT_EQ((*started_)->code, *c.code);
            EXPECT_EQ((*started_)->description, c.description);
        }
        EXPECT_TRUE(!c.ends || endedOnce());
    }
}

// A daemon may send any property-list number where an integer belongs; a real beyond the
// integers' range once made the conversion overflow.
TEST_F(PTUSBHubTest, RealNumbersBeyondTheIntegersSaturate)
{
    const int conn = listen(*hub_);
    ASSERT_GE(conn, 0);
    daemon_.sendMessage(conn, 1, R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>MessageType</key>)"
                                 R"(<string>Result</string><key>Number</key><real>1e300</real></dict></plist>)");
    daemon_.sendMessage(conn, 0, R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>MessageType</key>)"
                                 R"(<string>Attached</string><key>DeviceID</key><real>1e300</real></dict></plist>)");
    ASSERT_TRUE(runUntil([&] { return started_.has_value() && seen_.size() == 1; }));
    ASSERT_TRUE(*started_);
    EXPECT_EQ((*started_)->code, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ((*started_)->description, "Unspecified error");
    EXPECT_EQ(hub_->attachedDevices().count(std::numeric_limits<std::int64_t>::max()), 1u);
}

// Strings that are not UTF-8 once made the log line's JSON writer throw, ending the program.
TEST_F(PTUSBHubTest, MessagesWithBytesThatAreNotUTF8AreLoggedAndTheHubGoesOn)
{
    log::Capture capture;
    const int conn = listen(*hub_);
    ASSERT_GE(conn, 0);
    const std::string message = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n\t<key>DeviceID</key>\n"
                                "\t<integer>1</integer>\n\t<key>MessageType</key>\n\t<string>Deta\xee\xff\xff\xff</string>\n</dict>\n</plist>\n";
    daemon_.sendMessage(conn, 0, message);
    daemon_.sendMessage(conn, 42, message);
    daemon_.sendMessage(conn, 0, usbmux::toXmlPlist({{"MessageType", "Attached"}, {"DeviceID", 3}}));
    ASSERT_TRUE(runUntil([&] { return seen_.size() == 1; }));
    EXPECT_EQ(std::ranges::count_if(capture.lines(), [](const std::string& line) { return line.find("Deta\xef\xbf\xbd") != std::string::npos; }), 2);
}

TEST_F(PTUSBHubTest, ConnectSendsSwappedPortAndReportsRefusal)
{
    std::optional<Error> result;
    bool called = false;
    hub_->connectToDevice(9, 6171, [&](std::optional<Error> e, std::shared_ptr<UsbmuxStream> s) { called = true; result = e; EXPECT_FALSE(s); },
                          [&](std::optional<Error>) { ++ends_; });
    const int conn = daemon_.accept();
    auto connect = daemon_.readPacket(conn);
    ASSERT_TRUE(connect);
    EXPECT_EQ(connect->tag, 1u);
    EXPECT_EQ(connect->message["MessageType"], "Connect");
    EXPECT_EQ(connect->message["DeviceID"].get<long long>(), 9);
    EXPECT_EQ(connect->message["PortNumber"].get<long long>(), 6936);
    daemon_.sendMessage(conn, 1, usbmux::toXmlPlist({{"MessageType", "Result"}, {"Number", 3}}));
    ASSERT_TRUE(runUntil([&] { return called && ends_ == 1; }));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->code, 3);
    EXPECT_EQ(result->description, "connection refused");
}

// The reply and the device's first frame arrive in one write: no device byte may be eaten.
TEST_F(PTUSBHubTest, ChannelSpeaksFramesOverTheConnectedStream)
{
    std::vector<std::pair<std::uint32_t, Bytes>> frames;
    PTChannelDelegate delegate;
    delegate.didReceiveFrame = [&](PTChannel&, std::uint32_t type, std::uint32_t, std::optional<PTData> payload) {
        frames.emplace_back(type, payload ? payload->bytes() : Bytes{});
    };
    auto channel = PTChannel::channelWithDelegate(delegate);
    std::optional<std::optional<Error>> connected;
    channel->connectToPort(6171, hub_, 4, [&](std::optional<Error> e) { connected = e; });
    EXPECT_EQ(channel->description(), "<PTChannel connecting>");
    const int conn = daemon_.accept();
    ASSERT_TRUE(daemon_.readPacket(conn));
    const std::string reply = usbmux::toXmlPlist({{"MessageType", "Result"}, {"Number", 0}});
    Bytes wire = header(static_cast<std::uint32_t>(16 + reply.size()), 1, 8, 1);
    wire.insert(wire.end(), reply.begin(), reply.end());
    const Bytes frame = PTProtocol::createFrame(3004, 999, {0xAA, 0xBB});
    wire.insert(wire.end(), frame.begin(), frame.end());
    daemon_.send(conn, wire);
    ASSERT_TRUE(runUntil([&] { return connected.has_value() && frames.size() == 1; }));
    EXPECT_FALSE(*connected);
    EXPECT_EQ(frames[0].first, 3004u);
    EXPECT_EQ(frames[0].second, (Bytes{0xAA, 0xBB}));

    // Writing and ending a connected channel are the frame channel's own tests.
    channel->close();
}

TEST(UsbmuxStreamTest, DaemonAddressMayBeHostAndPort)
{
    MainLoop loop;
    test::LoopbackListener listener;
    test::ScopedEnv address("USBMUXD_SOCKET_ADDRESS", "127.0.0.1:" + std::to_string(listener.port()));
    std::optional<Error> error;
    auto stream = UsbmuxStream::open(MainQueue::shared(), nullptr, error);
    ASSERT_TRUE(stream) << logText(error);
    auto peer = listener.accept();
    std::optional<std::optional<Error>> written;
    stream->write({1, 2, 3}, [&](std::optional<Error> e) { written = e; });
    ASSERT_TRUE(loop.runUntil([&] { return written.has_value(); }, 5s));
    std::uint8_t got[3] = {};
    EXPECT_EQ(asio::read(peer, asio::buffer(got)), 3u);
    EXPECT_EQ(got[2], 3);
    stream->close();
    stream.reset();
    loop.drain();
}

// Writing to a peer that went away must report an error, not kill the process with SIGPIPE.
TEST(UsbmuxStreamTest, WriteToClosedPeerFailsWithoutSignal)
{
    MainLoop loop;
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    int ends = 0;
    auto stream = UsbmuxStream::adopt(fds[0], MainQueue::shared(), [&](std::optional<Error>) { ++ends; });
    ::close(fds[1]);
    std::vector<std::optional<Error>> results;
    for (int i = 0; i < 3; ++i)
        stream->write(Bytes(70000, 1), [&](std::optional<Error> e) { results.push_back(e); });
    ASSERT_TRUE(loop.runUntil([&] { return results.size() == 3; }, 5s)) << results.size() << " " << (results.empty() ? "" : logText(results[0]));
    ASSERT_TRUE(results[0]);
    EXPECT_EQ(results[0]->code, EPIPE);
    stream.reset();
    ASSERT_TRUE(loop.runUntil([&] { return ends == 1; }, 5s));
}

} // namespace
} // namespace vd
