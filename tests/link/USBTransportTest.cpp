#include <algorithm>
#include <chrono>
#include <optional>
#include <span>

#include <gtest/gtest.h>

#include "link/USBTransport.h"
#include "platform/Log.h"
#include "support/FakeUsbDaemon.h"

namespace vd {
namespace {

using namespace std::chrono_literals;

// Counts every report the transport makes to its owner.
class CountingOwner final : public ServiceTransportDelegate {
public:
    void transportDidConnect(ServiceTransport&) override { ++reports; }
    void transportDidReceive(ServiceTransport&, std::span<const std::uint8_t>) override { ++reports; }
    void transportDidSend(ServiceTransport&, long) override { ++reports; }
    bool transportDidDisconnect(ServiceTransport&, std::optional<LinkEndCause>, const std::optional<Error>&, bool) override
    {
        ++reports;
        return true;
    }
    void transportDidEnd(LinkEndCause, const std::optional<Error>&) override { ++reports; }
    std::size_t transportPacketLimit() const override { return 1u << 20; }

    int reports = 0;
};

// A USB transport against a daemon played byte by byte; the device port 6171 goes out as 6936.
class USBTransportTest : public test::FakeDaemonTest {
protected:
    void TearDown() override
    {
        transport_->close(false);
        loop_.drain();
    }

    // Accepts the next daemon connection, which must bring "Listen", and answers it with success.
    int answerListen()
    {
        if (!runUntil([&] { return daemon_.incoming(); }))
            return -1;
        std::optional<test::DaemonPacket> listen;
        const int conn = daemon_.acceptRequest(listen);
        if (conn < 0 || listen->message["MessageType"] != "Listen")
            return -1;
        daemon_.sendMessage(conn, listen->tag, test::resultPlist(0));
        return conn;
    }

    std::shared_ptr<CountingOwner> owner_ = std::make_shared<CountingOwner>();
    std::shared_ptr<USBTransport> transport_ = USBTransport::create(owner_, nullptr);
};

// A daemon that ends the listening connection (it restarts, say) is listened to again, and a
// device it announces afterwards is followed.
TEST_F(USBTransportTest, ListensAgainWhenTheDaemonEndsTheListeningConnection)
{
    transport_->start(6171);
    const int first = answerListen();
    ASSERT_GE(first, 0);
    daemon_.closeConnection(first);
    const int second = answerListen();
    ASSERT_GE(second, 0) << "no second Listen";
    attach(second, 5);

    ASSERT_TRUE(runUntil([&] { return daemon_.incoming(); }));
    std::optional<test::DaemonPacket> connect;
    const int device = daemon_.acceptRequest(connect);
    ASSERT_GE(device, 0);
    const PTPlistMessage expected = {{"MessageType", "Connect"}, {"DeviceID", 5}, {"PortNumber", 6936}};
    EXPECT_EQ(connect->message, expected);
    // The attempt ends before the test does, so nothing of it is left waiting for an answer.
    log::Capture capture;
    daemon_.closeConnection(device);
    EXPECT_TRUE(runUntil([&] {
        return std::ranges::any_of(capture.lines(), [](const std::string& line) { return line.starts_with("Failed to connect to device #5: "); });
    }));
}

// The news of an attach goes through the main queue: a stop that comes between its arrival and
// its handling must leave the device alone, as must any attach after the stop.
TEST_F(USBTransportTest, AnAttachThatArrivesAfterTheStopIsIgnored)
{
    transport_->start(6171);
    const int conn = answerListen();
    ASSERT_GE(conn, 0);
    // Observing after the transport, this runs once the transport has queued its handling.
    bool stopped = false;
    const auto stopOnAttach = NotificationCenter::defaultCenter()->addObserver(kPTUSBDeviceDidAttachNotification, nullptr,
        [&](const Notification&) {
            transport_->close(true);
            stopped = true;
        });
    attach(conn, 5);
    ASSERT_TRUE(runUntil([&] { return stopped; }));
    attach(conn, 6);
    // A connect would follow the attach within a few hops of the queues; nothing can be awaited.
    EXPECT_FALSE(runUntil([&] { return daemon_.incoming(); }, 200ms));
    EXPECT_EQ(owner_->reports, 0);
}

} // namespace
} // namespace vd
