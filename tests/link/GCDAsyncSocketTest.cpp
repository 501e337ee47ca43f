#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "link/GCDAsyncSocket.h"
#include "support/BytesOf.h"
#include "support/Eventually.h"
#include "support/FreePort.h"
#include "support/LoopbackListener.h"
#include "support/RawPeer.h"
#include "support/TempDir.h"

namespace vd {
namespace {

using namespace std::chrono_literals;

const Bytes kTerminator{0xDB, 0xBC};

using test::bytesOf;

// Records what the socket reports, and whether each report came on the delegate queue.
class Recorder : public GCDAsyncSocketDelegate {
public:
    explicit Recorder(std::shared_ptr<SerialQueue> queue) : queue_(std::move(queue)) {}

    void socketDidConnectToUrl(GCDAsyncSocket&, const std::string&) override { note([&] { ++connects; }); }
    void socketDidConnectToHost(GCDAsyncSocket&, const std::string& h, std::uint16_t p) override
    {
        note([&] { ++connects; host = h; port = p; });
    }
    void socketDidReadData(GCDAsyncSocket&, Bytes data, long tag) override
    {
        note([&] { reads.emplace_back(std::move(data), tag); });
    }
    void socketDidWriteDataWithTag(GCDAsyncSocket&, long tag) override { note([&] { writeTags.push_back(tag); }); }
    void socketDidDisconnect(GCDAsyncSocket&, const std::optional<Error>& error) override
    {
        note([&] { ++disconnects; lastError = error; });
    }

    template <typename Predicate>
    bool waitFor(Predicate predicate, std::chrono::milliseconds timeout = 5s)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, predicate);
    }

    std::mutex mutex;
    std::condition_variable changed;
    int connects = 0;
    int disconnects = 0;
    std::string host;
    std::uint16_t port = 0;
    std::vector<std::pair<Bytes, long>> reads;
    std::vector<long> writeTags;
    std::optional<Error> lastError;
    std::atomic<bool> offQueue{false};

private:
    template <typename Change>
    void note(Change change)
    {
        if (!queue_->isCurrent())
            offQueue = true;
        std::lock_guard lock(mutex);
        change();
        changed.notify_all();
    }
    std::shared_ptr<SerialQueue> queue_;
};

class SocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        peer = std::make_unique<test::RawPeer>(dir / "peer.sock");
        recorder = std::make_shared<Recorder>(queue);
        socket = GCDAsyncSocket::initWithDelegate(recorder, queue);
    }
    void TearDown() override
    {
        socket->disconnect();
        EXPECT_FALSE(recorder->offQueue) << "a report arrived off the delegate queue";
    }

    void connect()
    {
        ASSERT_EQ(socket->connectToUrl(peer->path().string(), 10), std::nullopt);
        ASSERT_TRUE(peer->accept());
        ASSERT_TRUE(recorder->waitFor([&] { return recorder->connects == 1; }));
    }

    test::TempDir dir;
    std::shared_ptr<SerialQueue> queue = SerialQueue::create("test.socket");
    std::unique_ptr<test::RawPeer> peer;
    std::shared_ptr<Recorder> recorder;
    std::shared_ptr<GCDAsyncSocket> socket;
};

TEST_F(SocketTest, ReadsCutTheStreamAfterEachDelimiter)
{
    connect();
    socket->readDataToData(kTerminator, -1, 1);
    peer->send(bytesOf("ab\xDB"));
    // Half a delimiter completes nothing; the short wait only lets the socket read it alone.
    EXPECT_FALSE(recorder->waitFor([&] { return !recorder->reads.empty(); }, 20ms));
    peer->send(bytesOf("\xBC" "cd\xDB\xBC" "ef\xDB\xBC" "tail"));
    ASSERT_TRUE(recorder->waitFor([&] { return recorder->reads.size() == 1; }));
    // Bytes after a delimiter wait in the buffer for the next read.
    socket->readDataToData(kTerminator, -1, 2);
    socket->readDataToData(kTerminator, -1, 3);
    ASSERT_TRUE(recorder->waitFor([&] { return recorder->reads.size() == 3; }));
    std::lock_guard lock(recorder->mutex);
    EXPECT_EQ(recorder->reads[0], std::make_pair(bytesOf("ab\xDB\xBC"), 1L));
    EXPECT_EQ(recorder->reads[1], std::make_pair(bytesOf("cd\xDB\xBC"), 2L));
    EXPECT_EQ(recorder->reads[2], std::make_pair(bytesOf("ef\xDB\xBC"), 3L));
}

TEST_F(SocketTest, PacketOfExactlyTheReadsLimitArrivesAndOneByteMoreEndsTheConnection)
{
    // A limit that is no multiple of the receive buffer's steps, so the buffer stops growing
    // short of a doubling.
    constexpr std::size_t kLimit = 300'001;
    connect();
    socket->readDataToData(kTerminator, -1, 0, kLimit);
    Bytes exact(kLimit - kTerminator.size(), 'x');
    exact.insert(exact.end(), kTerminator.begin(), kTerminator.end());
    std::thread sender([&] { peer->send(exact); });
    ASSERT_TRUE(recorder->waitFor([&] { return recorder->reads.size() == 1; }, 20s));
    sender.join();
    {
        std::lock_guard lock(recorder->mutex);
        EXPECT_EQ(recorder->reads[0].first, exact);
    }

    socket->readDataToData(kTerminator, -1, 0, kLimit);
    Bytes over(kLimit + 1, 'y');
    std::thread overSender([&] { peer->send(over); });
    ASSERT_TRUE(recorder->waitFor([&] { return recorder->disconnects == 1; }, 20s));
    overSender.join();
    std::lock_guard lock(recorder->mutex);
    ASSERT_TRUE(recorder->lastError);
    EXPECT_EQ(recorder->lastError->code, GCDAsyncSocket::kReadMaxedOutError);
    EXPECT_TRUE(recorder->lastError->description.find(std::to_string(kLimit)) != std::string::npos) << recorder->lastError->description;
    EXPECT_EQ(recorder->reads.size(), 1u);
}

TEST_F(SocketTest, WritesFromManyThreadsArriveWholeAndInOrderPerThread)
{
    connect();
    constexpr int kThreads = 4;
    constexpr int kEach = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                socket->writeData(bytesOf(std::to_string(t) + ":" + std::to_string(i) + std::string(100, '.') + "\xDB\xBC"), 20, t);
        });
    }
    for (auto& w : writers)
        w.join();
    std::vector<int> next(kThreads, 0);
    for (int n = 0; n < kThreads * kEach; ++n) {
        const auto packet = peer->readPacket();
        ASSERT_TRUE(packet) << "packet " << n;
        const std::string text(packet->begin(), packet->end() - 2);
        const int t = std::stoi(text.substr(0, 1));
        EXPECT_EQ(text, std::to_string(t) + ":" + std::to_string(next[t]) + std::string(100, '.'));
        ++next[t];
    }
    ASSERT_TRUE(recorder->waitFor([&] { return recorder->writeTags.size() == kThreads * kEach; }));
}

TEST_F(SocketTest, StalledWriteTimesOut)
{
    connect();
    // The peer never reads, so the kernel buffers fill and the write cannot finish.
    socket->writeData(Bytes(64u << 20, 'x'), 0.3, 999);
    ASSERT_TRUE(recorder->waitFor([&] { return recorder->disconnects == 1; }, 10s));
    std::lock_guard lock(recorder->mutex);
    ASSERT_TRUE(recorder->lastError);
    EXPECT_EQ(recorder->lastError->code, GCDAsyncSocket::kWriteTimeoutError);
    EXPECT_TRUE(recorder->writeTags.empty());
}

TEST_F(SocketTest, PeerClosingIsReportedOnceWithAnError)
{
    connect();
    socket->readDataToData(kTerminator, -1, 0);
    peer->closeConnection();
    ASSERT_TRUE(recorder->waitFor([&] { return recorder->disconnects == 1; }));
    // A second report would follow at once; a short wait is enough to see none.
    EXPECT_FALSE(recorder->waitFor([&] { return recorder->disconnects > 1; }, 50ms));
    std::lock_guard lock(recorder->mutex);
    ASSERT_TRUE(recorder->lastError);
    EXPECT_EQ(recorder->lastError->code, GCDAsyncSocket::kClosedError);
    EXPECT_EQ(recorder->lastError->description, "The service closed the connection");
}

TEST_F(SocketTest, ClearedDelegateHearsNothingMore)
{
    connect();
    socket->readDataToData(kTerminator, -1, 0);
    socket->setDelegate({});
    peer->send(bytesOf("late\xDB\xBC"));
    socket->disconnect();
    // Everything the socket would report is done once its queue has run what came before.
    ASSERT_TRUE(test::flush(*queue));
    std::lock_guard lock(recorder->mutex);
    EXPECT_TRUE(recorder->reads.empty());
    EXPECT_EQ(recorder->disconnects, 0);
}

TEST_F(SocketTest, DisconnectDropsReadsAlreadyUnderWay)
{
    connect();
    for (int i = 0; i < 50; ++i)
        socket->readDataToData(kTerminator, -1, i);
    std::string many;
    for (int i = 0; i < 50; ++i)
        many += "p\xDB\xBC";
    peer->send(many);
    socket->disconnect();
    const auto readsAtDisconnect = [&] {
        std::lock_guard lock(recorder->mutex);
        return recorder->reads.size();
    }();
    ASSERT_TRUE(recorder->waitFor([&] { return recorder->disconnects == 1; }));
    std::lock_guard lock(recorder->mutex);
    EXPECT_EQ(recorder->reads.size(), readsAtDisconnect);
    EXPECT_FALSE(recorder->lastError);
}

TEST_F(SocketTest, RefusalsAtTheCallAndLater)
{
    EXPECT_TRUE(socket->connectToUrl("", 10));
    EXPECT_TRUE(socket->connectToUrl(std::string(200, 'p'), 10));

    ASSERT_EQ(socket->connectToUrl((dir / "nobody-here").string(), 10), std::nullopt);
    const auto again = socket->connectToUrl(peer->path().string(), 10);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->code, GCDAsyncSocket::kInUseError);

    ASSERT_TRUE(recorder->waitFor([&] { return recorder->disconnects == 1; }));
    std::lock_guard lock(recorder->mutex);
    ASSERT_TRUE(recorder->lastError);
    EXPECT_EQ(recorder->lastError->code, ENOENT);
    EXPECT_EQ(recorder->connects, 0);
}

TEST(SocketTcp, ConnectsByNameAndReportsTheRefusal)
{
    auto queue = SerialQueue::create("test.tcp");
    auto recorder = std::make_shared<Recorder>(queue);
    auto refused = GCDAsyncSocket::initWithDelegate(recorder, queue);
    ASSERT_EQ(refused->connectToHost("localhost", test::unusedTcpPort()), std::nullopt);
    ASSERT_TRUE(recorder->waitFor([&] { return recorder->disconnects == 1; }));
    {
        std::lock_guard lock(recorder->mutex);
        ASSERT_TRUE(recorder->lastError);
        EXPECT_EQ(recorder->lastError->code, ECONNREFUSED);
    }

    test::LoopbackListener listener;
    auto socket = GCDAsyncSocket::initWithDelegate(recorder, queue);
    ASSERT_EQ(socket->connectToHost("127.0.0.1", listener.port()), std::nullopt);
    ASSERT_TRUE(recorder->waitFor([&] { return recorder->connects == 1; }));
    {
        std::lock_guard lock(recorder->mutex);
        EXPECT_EQ(recorder->host, "127.0.0.1");
        EXPECT_EQ(recorder->port, listener.port());
    }
    socket->disconnect();
    EXPECT_FALSE(recorder->offQueue);
}

} // namespace
} // namespace vd
