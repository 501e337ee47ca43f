#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "link/ServiceContract.h"
#include "link/USBTransport.h"
#include "platform/MainQueue.h"
#include "platform/Log.h"
#include "support/FakeUsbDaemon.h"

namespace vd {
namespace {

using namespace std::chrono_literals;

// Keeps the packets it is told of, and where it was told; the first one is held until released.
// Every report counts, from whatever thread it comes.
class PacketOwner final : public ServiceTransportDelegate {
public:
    explicit PacketOwner(std::shared_ptr<SerialQueue> packetQueue) : packetQueue_(std::move(packetQueue)) {}

    void transportDidConnect(ServiceTransport&) override
    {
        ++reports;
        connected = true;
    }
    void transportDidReceive(ServiceTransport&, std::span<const std::uint8_t> bytes) override
    {
        ++reports;
        // Held only off the main queue: a transport that told it there would hang the test.
        if (!heldOnce_.exchange(true)) {
            firstArrived = true;
            if (!MainQueue::shared()->isCurrent())
                release_.get_future().wait();
        }
        std::lock_guard lock(mutex);
        offPacketQueue += !packetQueue_->isCurrent() || MainQueue::shared()->isCurrent();
        packets.emplace_back(bytes.begin(), bytes.end());
    }
    void transportDidSend(ServiceTransport&, long) override { ++reports; }
    bool transportDidDisconnect(ServiceTransport&, std::optional<LinkEndCause>, const std::optional<Error>&, bool) override
    {
        ++reports;
        return true;
    }
    void transportDidEnd(LinkEndCause, const std::optional<Error>&) override { ++reports; }
    std::size_t transportPacketLimit() const override { return 1u << 20; }

    void release()
    {
        if (!released_.exchange(true))
            release_.set_value();
    }
    std::size_t count()
    {
        std::lock_guard lock(mutex);
        return packets.size();
    }

    std::atomic<int> reports{0};
    std::atomic<bool> connected{false};
    std::atomic<bool> firstArrived{false};
    std::mutex mutex;
    std::vector<std::string> packets;
    int offPacketQueue = 0;

private:
    const std::shared_ptr<SerialQueue> packetQueue_;
    std::atomic<bool> heldOnce_{false};
    std::atomic<bool> released_{false};
    std::promise<void> release_;
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

    std::shared_ptr<SerialQueue> packetQueue_ = SerialQueue::create("test.packets");
    std::shared_ptr<PacketOwner> owner_ = std::make_shared<PacketOwner>(packetQueue_);
    std::shared_ptr<USBTransport> transport_ = USBTransport::create(owner_, nullptr, packetQueue_);
};

// Handling a large report must not hold the GUI thread: packets are told on the packet queue,
// every one and in the order sent, and the main queue goes on running while one is handled.
TEST_F(USBTransportTest, PacketsAreToldOnThePacketQueueInOrderWhileTheMainQueueRuns)
{
    transport_->start(6171);
    const int listen = answerListen();
    ASSERT_GE(listen, 0);
    attach(listen, 5);
    ASSERT_TRUE(runUntil([&] { return daemon_.incoming(); }));
    std::optional<test::DaemonPacket> connect;
    const int device = daemon_.acceptRequest(connect);
    ASSERT_GE(device, 0);
    daemon_.sendMessage(device, connect->tag, test::resultPlist(0));
    ASSERT_TRUE(runUntil([&] { return owner_->connected.load(); }));

    // More than are ever let in at once, of sizes that split across the stream's reads.
    std::vector<std::string> sent;
    Bytes burst;
    for (std::size_t i = 0; i < 40; ++i) {
        const std::string& text = sent.emplace_back("packet " + std::to_string(i) + std::string(i * 977, 'x'));
        const auto frame = test::frameBytes(1, contract::kFrameTypePacket, 0, Bytes(text.begin(), text.end()));
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    // Sent beside the main loop, which must read the burst for the send to finish.
    std::jthread sender([&] { daemon_.send(device, burst); });
    // Whatever fails below, neither the packet queue nor the sender is left waiting.
    const std::shared_ptr<void> releaseAtExit(nullptr, [&](void*) {
        owner_->release();
        daemon_.closeConnection(device);
    });
    ASSERT_TRUE(runUntil([&] { return owner_->firstArrived.load(); }));
    bool mainRan = false;
    MainQueue::shared()->async([&] { mainRan = true; });
    EXPECT_TRUE(runUntil([&] { return mainRan; })) << "the main queue waited for a packet's handling";
    owner_->release();

    ASSERT_TRUE(runUntil([&] { return owner_->count() == sent.size(); }));
    std::lock_guard lock(owner_->mutex);
    EXPECT_EQ(owner_->offPacketQueue, 0);
    EXPECT_EQ(owner_->packets, sent);
}

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
