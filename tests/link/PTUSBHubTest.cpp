#include <cerrno>
#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <plist/plist.h>
#include <sys/socket.h>
#include <unistd.h>

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

namespace vd {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
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

std::optional<PTPlistMessage> parse(const std::string& text, std::optional<Error>& error)
{
    error.reset();
    return usbmux::parsePlist(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), error);
}

// An error as one comparable value.
std::tuple<std::string, long long, std::string> parts(const std::optional<Error>& error)
{
    return error ? std::tuple(error->domain, error->code, error->description) : std::tuple("none", 0LL, "");
}

TEST(PTUSBPacket, HeaderIsLittleEndianSizeProtocolTypeTagAndPortsAreByteSwapped)
{
    EXPECT_EQ(usbmux::encodePacket(1, "abc"), (Bytes{19, 0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0, 'a', 'b', 'c'}));
    EXPECT_EQ(usbmux::encodePacket(0x01020304, ""), (Bytes{16, 0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 4, 3, 2, 1}));
    EXPECT_EQ(usbmux::portNumberOnWire(6171), 6936u);
    EXPECT_EQ(usbmux::portNumberOnWire(0xFF), 0xFF00u);
}

TEST(PTUSBPacket, ResultNumbersMapToTexts)
{
    EXPECT_FALSE(usbmux::errorFromResult({{"Number", 0}}));
    const struct {
        PTPlistMessage message;
        int code;
        const char* text;
    } table[] = {
        {{{"Number", 1}}, 1, "illegal command"}, {{{"Number", 2}}, 2, "unknown device"},
        {{{"Number", 3}}, 3, "connection refused"}, {{{"Number", 6}}, 6, "invalid version"},
        {{{"Number", 4}}, 4, "Unspecified error"}, {{{"Number", 99}}, 99, "Unspecified error"},
        {{{"MessageType", "Result"}}, 0, ""},
    };
    for (const auto& [message, code, text] : table)
        EXPECT_EQ(parts(usbmux::errorFromResult(message)), std::tuple("PTUSBHubError", code, text));
}

// Both encodings a daemon may use are read; what is no property list, or one nested deep enough
// to overflow the stack when converted and logged (100,000 arrays once did), is refused.
TEST(PTUSBPacket, ParsesXmlAndBinaryPlistsAndRefusesOthers)
{
    const PTPlistMessage message = {{"MessageType", "Attached"}, {"DeviceID", 7u}, {"Properties", {{"SerialNumber", "abc"}}}};
    const std::string xml = usbmux::toXmlPlist(message);
    EXPECT_EQ(xml.rfind("<?xml", 0), 0u);
    std::optional<Error> error;
    for (const std::string& encoded : {xml, binaryPlist(message)})
        EXPECT_EQ(parse(encoded, error), message);
    const auto nested = [](int depth) {
        std::string text = R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>Properties</key>)";
        for (int i = 0; i < depth; ++i)
            text += "<array>";
        for (int i = 0; i < depth; ++i)
            text += "</array>";
        return text + "</dict></plist>";
    };
    EXPECT_TRUE(parse(nested(8), error) && !error);
    for (const std::string& refused : {std::string("not a plist at all"), nested(100000)}) {
        EXPECT_FALSE(parse(refused, error));
        EXPECT_EQ(logText(error), "Could not parse the property list");
    }
    // A malformed closing tag leaves libplist a string whose stored length disagrees with its
    // text; its copying getter then failed an assertion and aborted the program.
    const std::string badTag = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>DeviceID</ke9><integer>1</integer><key>MessageType</key><string>Attached</string>
<key>Properties</key><dict><key>ConnectionType</key><string>USB</string><key>DeviceID</key><integer>1</integer>
<key>SerialNumber</key><string>seed-device-1</string></dict></dict></plist>
)";
    EXPECT_TRUE(parse(badTag, error) || error);
}

// What a listen told, kept apart for each listen, so a late end of an earlier one counts nowhere.
struct ListenReports {
    std::optional<std::optional<Error>> started;
    int ends = 0;
};

class PTUSBHubTest : public test::FakeDaemonTest {
protected:
    // Starts `hub` listening and plays the daemon until its "Listen" request has come.
    int listen(PTUSBHub& hub)
    {
        reports_ = std::make_shared<ListenReports>();
        hub.listenOnQueue(MainQueue::shared(), [r = reports_](std::optional<Error> e) { r->started = e; },
                          [r = reports_](std::optional<Error>) { ++r->ends; });
        return daemon_.acceptRequest(listenRequest_);
    }
    // A second end would follow at once; a short wait is enough to see none.
    bool endedOnce() { return reports_->ends == 1 && !runUntil([&] { return reports_->ends > 1; }, 20ms); }

    std::shared_ptr<NotificationCenter> center_ = NotificationCenter::create();
    std::shared_ptr<PTUSBHub> hub_ = PTUSBHub::create(center_);
    std::vector<Notification> seen_;
    ObservationToken attachObservation_ = center_->addObserver(kPTUSBDeviceDidAttachNotification, hub_.get(), [this](const Notification& n) { seen_.push_back(n); });
    ObservationToken detachObservation_ = center_->addObserver(kPTUSBDeviceDidDetachNotification, hub_.get(), [this](const Notification& n) { seen_.push_back(n); });
    std::shared_ptr<ListenReports> reports_ = std::make_shared<ListenReports>();
    std::optional<test::DaemonPacket> listenRequest_;
};

TEST_F(PTUSBHubTest, ListenSendsTagOneAndPostsAttachAndDetach)
{
    log::Capture capture;
    const int conn = listen(*hub_);
    ASSERT_GE(conn, 0);
    const auto& request = *listenRequest_;
    EXPECT_EQ(std::tuple(request.protocol, request.type, request.tag), std::tuple(1u, 8u, 1u));
    EXPECT_EQ(listenRequest_->payload.rfind("<?xml", 0), 0u);
    EXPECT_EQ(listenRequest_->message["MessageType"], "Listen");
    daemon_.sendMessage(conn, 1, test::resultPlist(0));
    ASSERT_TRUE(runUntil([&] { return reports_->started.has_value(); }));
    EXPECT_FALSE(*reports_->started);

    // A second listen on a listening hub succeeds at once.
    std::optional<std::optional<Error>> again;
    hub_->listenOnQueue(MainQueue::shared(), [&](std::optional<Error> e) { again = e; }, nullptr);
    ASSERT_TRUE(again && !*again);

    daemon_.sendMessage(conn, 0, binaryPlist({{"MessageType", "Attached"}, {"DeviceID", 5}, {"Properties", {{"ConnectionType", "USB"}}}}));
    daemon_.sendMessage(conn, 0, usbmux::toXmlPlist({{"MessageType", "Paired"}, {"DeviceID", 5}}));
    daemon_.sendMessage(conn, 42, test::resultPlist(0));
    attach(conn, 6);
    daemon_.sendMessage(conn, 0, usbmux::toXmlPlist({{"MessageType", "Detached"}, {"DeviceID", 5}}));
    ASSERT_TRUE(runUntil([&] { return seen_.size() == 3; }));
    EXPECT_EQ(seen_[0].name, kPTUSBDeviceDidAttachNotification);
    EXPECT_EQ(seen_[0].object, hub_.get());
    EXPECT_EQ(std::any_cast<const PTPlistMessage&>(seen_[0].userInfo)["Properties"]["ConnectionType"], "USB");
    EXPECT_EQ(seen_[2].name, kPTUSBDeviceDidDetachNotification);
    ASSERT_EQ(hub_->attachedDevices().size(), 1u);
    EXPECT_EQ(hub_->attachedDevices().count(6), 1u);
    const auto logged = [&](std::string_view start, std::string_view part) {
        return std::ranges::any_of(capture.lines(), [&](const std::string& line) { return line.starts_with(start) && line.find(part) != std::string::npos; });
    };
    EXPECT_TRUE(logged("Warning: Unhandled broadcast message: ", "Paired"));
    EXPECT_TRUE(logged("Warning: Ignoring reply packet for which there is no registered callback. Packet => ", ""));
    EXPECT_EQ(reports_->ends, 0);

    daemon_.closeConnection(conn);
    ASSERT_TRUE(runUntil([&] { return reports_->ends == 1; }));
    EXPECT_TRUE(endedOnce());
}

// A bad packet fails the waiting "Listen" reply; one that cannot be framed also ends the
// connection, once.
TEST_F(PTUSBHubTest, BadPacketsFailThePendingReply)
{
    const struct {
        const char* name;
        Bytes bytes;
        bool closeAfter;
        bool ends;
        std::optional<long long> code;
        std::string description;
    } cases[] = {
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
        ASSERT_TRUE(runUntil([&] { return reports_->started.has_value() && reports_->ends == int(c.ends); }));
        ASSERT_TRUE(*reports_->started);
        if (c.code) {
            EXPECT_EQ(parts(*reports_->started), std::tuple("PTUSBHubError", *c.code, c.description));
        }
        EXPECT_TRUE(!c.ends || endedOnce());
    }
}

// Hostile messages once ended the program: a real beyond the integers' range where an integer
// belongs made the conversion overflow, and strings that are not UTF-8 made the log line's JSON
// writer throw. Numbers saturate, texts are logged with replacement characters.
TEST_F(PTUSBHubTest, HostileNumbersAndTextsAreTakenAsWellAsTheyCanBe)
{
    log::Capture capture;
    const int conn = listen(*hub_);
    ASSERT_GE(conn, 0);
    const std::string start = R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>MessageType</key>)";
    daemon_.sendMessage(conn, 1, start + R"(<string>Result</string><key>Number</key><real>1e300</real></dict></plist>)");
    const std::string notUtf8 = start + "<string>Deta\xee\xff\xff\xff</string><key>DeviceID</key><integer>1</integer></dict></plist>";
    daemon_.sendMessage(conn, 0, notUtf8);
    daemon_.sendMessage(conn, 42, notUtf8);
    daemon_.sendMessage(conn, 0, start + R"(<string>Attached</string><key>DeviceID</key><real>1e300</real></dict></plist>)");
    ASSERT_TRUE(runUntil([&] { return reports_->started.has_value() && seen_.size() == 1; }));
    constexpr auto kLargest = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(parts(*reports_->started), std::tuple("PTUSBHubError", kLargest, "Unspecified error"));
    EXPECT_EQ(hub_->attachedDevices().count(kLargest), 1u);
    EXPECT_EQ(std::ranges::count_if(capture.lines(), [](const std::string& line) { return line.find("Deta\xef\xbf\xbd") != std::string::npos; }), 2);
}

// A refused Connect reports its result; an accepted one turns the connection into the device's
// stream, even when the reply and the device's first frame arrive in one write.
TEST_F(PTUSBHubTest, ConnectSendsTheSwappedPortAndHandsTheStreamToAChannel)
{
    std::optional<Error> refusal;
    auto ends = std::make_shared<int>(0);
    hub_->connectToDevice(9, 6171, [&](std::optional<Error> e, std::shared_ptr<UsbmuxStream> s) { refusal = e; EXPECT_FALSE(s); },
                          [ends](std::optional<Error>) { ++*ends; });
    std::optional<test::DaemonPacket> connect;
    const int refused = daemon_.acceptRequest(connect);
    ASSERT_GE(refused, 0);
    EXPECT_EQ(connect->tag, 1u);
    // The port's two bytes exchanged.
    const PTPlistMessage expected = {{"MessageType", "Connect"}, {"DeviceID", 9}, {"PortNumber", 6936}};
    EXPECT_EQ(connect->message, expected);
    daemon_.sendMessage(refused, 1, test::resultPlist(3));
    ASSERT_TRUE(runUntil([&] { return refusal && *ends == 1; }));
    EXPECT_EQ(parts(refusal), std::tuple("PTUSBHubError", 3, "connection refused"));

    std::vector<std::pair<std::uint32_t, Bytes>> frames;
    PTChannelDelegate delegate;
    delegate.didReceiveFrame = [&](PTChannel&, std::uint32_t type, std::uint32_t, std::optional<PTData> payload) {
        frames.emplace_back(type, payload ? payload->bytes() : Bytes{});
    };
    auto channel = PTChannel::channelWithDelegate(delegate);
    std::optional<std::optional<Error>> connected;
    channel->connectToPort(6171, hub_, 4, [&](std::optional<Error> e) { connected = e; });
    EXPECT_EQ(channel->description(), "<PTChannel connecting>");
    const int conn = daemon_.acceptRequest(connect);
    ASSERT_GE(conn, 0);
    Bytes wire = usbmux::encodePacket(1, test::resultPlist(0));
    const Bytes frame = PTProtocol::createFrame(3004, 999, {0xAA, 0xBB});
    wire.insert(wire.end(), frame.begin(), frame.end());
    daemon_.send(conn, wire);
    ASSERT_TRUE(runUntil([&] { return connected.has_value() && frames.size() == 1; }));
    EXPECT_FALSE(*connected);
    EXPECT_EQ(frames[0], std::make_pair(3004u, Bytes{0xAA, 0xBB}));
    // Writing and ending a connected channel are the frame channel's own tests.
    channel->close();
}

// Writing on an open stream is the frame channel's own test.
TEST(UsbmuxStreamTest, DaemonAddressMayBeHostAndPort)
{
    MainLoop loop;
    test::LoopbackListener listener;
    test::ScopedEnv address("USBMUXD_SOCKET_ADDRESS", "127.0.0.1:" + std::to_string(listener.port()));
    std::optional<Error> error;
    auto stream = UsbmuxStream::open(MainQueue::shared(), nullptr, error);
    ASSERT_TRUE(stream) << logText(error);
    EXPECT_TRUE(listener.accept().is_open());
    stream->close();
    stream.reset();
    loop.drain();
}

// Writing to a peer that went away reports the broken pipe to the write and ends the stream once.
// (SIGPIPE itself is ignored process-wide, by the program's main as by the tests'.)
TEST(UsbmuxStreamTest, WriteToClosedPeerFailsAndEndsOnce)
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
    ASSERT_TRUE(loop.runUntil([&] { return results.size() == 3; }, 5s));
    ASSERT_TRUE(results[0]);
    EXPECT_EQ(results[0]->code, EPIPE);
    stream.reset();
    ASSERT_TRUE(loop.runUntil([&] { return ends == 1; }, 5s));
}

} // namespace
} // namespace vd
