#include <atomic>
#include <condition_variable>
#include <functional>
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
// A read limit that is no multiple of the receive buffer's steps, so the buffer stops growing
// short of a doubling.
constexpr std::size_t kLimit = 300'001;

using test::bytesOf;

// What a socket reported.
struct Seen {
    int connects = 0, disconnects = 0;
    std::string host;
    std::uint16_t port = 0;
    std::vector<std::pair<Bytes, long>> reads;
    std::vector<long> writeTags;
    std::optional<Error> lastError;

    long long errorCode() const { return lastError ? lastError->code : -1; }
};

// Records what the socket reports, and whether each report came on the delegate queue.
class Recorder : public GCDAsyncSocketDelegate {
public:
    explicit Recorder(std::shared_ptr<SerialQueue> queue) : queue_(std::move(queue)) {}

    void socketDidConnectToUrl(GCDAsyncSocket&, const std::string&) override
    {
        note([](Seen& s) { ++s.connects; });
    }
    void socketDidConnectToHost(GCDAsyncSocket&, const std::string& h, std::uint16_t p) override
    {
        note([&](Seen& s) {
            ++s.connects;
            s.host = h;
            s.port = p;
        });
    }
    void socketDidReadData(GCDAsyncSocket&, std::span<const std::uint8_t> data, long tag) override
    {
        note([&](Seen& s) { s.reads.emplace_back(Bytes(data.begin(), data.end()), tag); });
    }
    void socketDidWriteDataWithTag(GCDAsyncSocket&, long tag) override
    {
        note([&](Seen& s) { s.writeTags.push_back(tag); });
    }
    void socketDidDisconnect(GCDAsyncSocket&, const std::optional<Error>& error) override
    {
        note([&](Seen& s) {
            ++s.disconnects;
            s.lastError = error;
        });
    }

    bool waitFor(const std::function<bool(const Seen&)>& predicate, std::chrono::milliseconds timeout = 5s)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return predicate(seen_); });
    }
    Seen seen()
    {
        std::lock_guard lock(mutex_);
        return seen_;
    }

    std::atomic<bool> offQueue{false};

private:
    void note(const std::function<void(Seen&)>& change)
    {
        if (!queue_->isCurrent())
            offQueue = true;
        std::lock_guard lock(mutex_);
        change(seen_);
        changed_.notify_all();
    }

    std::shared_ptr<SerialQueue> queue_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Seen seen_;
};

class SocketTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        socket->disconnect();
        EXPECT_FALSE(recorder->offQueue) << "a report arrived off the delegate queue";
    }

    void connect()
    {
        ASSERT_EQ(socket->connectToUrl(peer.path().string(), 10), std::nullopt);
        ASSERT_TRUE(peer.accept());
        ASSERT_TRUE(recorder->waitFor([](const Seen& s) { return s.connects == 1; }));
    }

    test::TempDir dir;
    test::RawPeer peer{dir / "peer.sock"};
    std::shared_ptr<SerialQueue> queue = SerialQueue::create("test.socket");
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>(queue);
    std::shared_ptr<GCDAsyncSocket> socket = GCDAsyncSocket::initWithDelegate(recorder, queue);
};

TEST_F(SocketTest, ReadsCutTheStreamAfterEachDelimiterUpToTheirLimit)
{
    connect();
    socket->readDataToData(kTerminator, -1, 1);
    peer.send(bytesOf("ab\xDB"));
    // Half a delimiter completes nothing; the short wait only lets the socket read it alone.
    EXPECT_FALSE(recorder->waitFor([](const Seen& s) { return !s.reads.empty(); }, 20ms));
    peer.send(bytesOf("\xBC" "cd\xDB\xBC" "ef\xDB\xBC"));
    ASSERT_TRUE(recorder->waitFor([](const Seen& s) { return s.reads.size() == 1; }));
    // Bytes after a delimiter wait in the buffer for the next read.
    socket->readDataToData(kTerminator, -1, 2);
    socket->readDataToData(kTerminator, -1, 3);
    // A packet of exactly the read's limit still arrives.
    Bytes exact(kLimit - kTerminator.size(), 'x');
    exact.insert(exact.end(), kTerminator.begin(), kTerminator.end());
    socket->readDataToData(kTerminator, -1, 4, kLimit);
    std::thread sender([&] { peer.send(exact); });
    const bool arrived = recorder->waitFor([](const Seen& s) { return s.reads.size() == 4; }, 20s);
    sender.join();
    ASSERT_TRUE(arrived);
    EXPECT_EQ(recorder->seen().reads, (std::vector<std::pair<Bytes, long>>{
        {bytesOf("ab\xDB\xBC"), 1}, {bytesOf("cd\xDB\xBC"), 2}, {bytesOf("ef\xDB\xBC"), 3}, {exact, 4}}));
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
        const auto packet = peer.readPacket();
        ASSERT_TRUE(packet) << "packet " << n;
        const std::string text(packet->begin(), packet->end() - 2);
        const int t = std::stoi(text.substr(0, 1));
        EXPECT_EQ(text, std::to_string(t) + ":" + std::to_string(next[t]++) + std::string(100, '.'));
    }
    ASSERT_TRUE(recorder->waitFor([](const Seen& s) { return s.writeTags.size() == kThreads * kEach; }));
}

// Each way a connection breaks is reported once, with its own error, and completes nothing.
struct Break {
    const char* name;
    std::function<void(GCDAsyncSocket&, test::RawPeer&)> act;
    long long code;
    std::string mentioning;
};

class SocketBreakTest : public SocketTest, public ::testing::WithParamInterface<Break> {};

TEST_P(SocketBreakTest, IsReportedOnceWithItsError)
{
    connect();
    // Acts that send block until the socket reads, so they run beside the wait.
    std::thread acting([&] { GetParam().act(*socket, peer); });
    const bool ended = recorder->waitFor([](const Seen& s) { return s.disconnects == 1; }, 20s);
    acting.join();
    ASSERT_TRUE(ended);
    // A second report would follow at once; a short wait is enough to see none.
    EXPECT_FALSE(recorder->waitFor([](const Seen& s) { return s.disconnects > 1; }, 50ms));
    const auto seen = recorder->seen();
    EXPECT_EQ(seen.errorCode(), GetParam().code);
    const auto description = logText(seen.lastError);
    EXPECT_NE(description.find(GetParam().mentioning), std::string::npos) << description;
    EXPECT_TRUE(seen.reads.empty() && seen.writeTags.empty());
}

INSTANTIATE_TEST_SUITE_P(Breaks, SocketBreakTest, ::testing::Values(
    Break{"PeerCloses", [](GCDAsyncSocket& s, test::RawPeer& p) {
              s.readDataToData(kTerminator, -1, 0);
              p.closeConnection();
          }, GCDAsyncSocket::kClosedError, "The service closed the connection"},
    // The peer never reads, so the kernel buffers fill and the write cannot finish.
    Break{"StalledWrite", [](GCDAsyncSocket& s, test::RawPeer&) {
              s.writeData(Bytes(64u << 20, 'x'), 0.3, 999);
          }, GCDAsyncSocket::kWriteTimeoutError, ""},
    Break{"ReadOverItsLimit", [](GCDAsyncSocket& s, test::RawPeer& p) {
              s.readDataToData(kTerminator, -1, 0, kLimit);
              p.send(Bytes(kLimit + 1, 'y'));
          }, GCDAsyncSocket::kReadMaxedOutError, std::to_string(kLimit)}),
    [](const auto& info) { return info.param.name; });

TEST_F(SocketTest, ClearedDelegateHearsNothingMore)
{
    connect();
    socket->readDataToData(kTerminator, -1, 0);
    socket->setDelegate({});
    peer.send(bytesOf("late\xDB\xBC"));
    socket->disconnect();
    // Everything the socket would report is done once its queue has run what came before.
    ASSERT_TRUE(test::flush(*queue));
    const auto seen = recorder->seen();
    EXPECT_TRUE(seen.reads.empty());
    EXPECT_EQ(seen.disconnects, 0);
}

TEST_F(SocketTest, DisconnectDropsReadsAlreadyUnderWay)
{
    connect();
    for (int i = 0; i < 50; ++i)
        socket->readDataToData(kTerminator, -1, i);
    std::string many;
    for (int i = 0; i < 50; ++i)
        many += "p\xDB\xBC";
    peer.send(many);
    socket->disconnect();
    const auto readsAtDisconnect = recorder->seen().reads.size();
    ASSERT_TRUE(recorder->waitFor([](const Seen& s) { return s.disconnects == 1; }));
    const auto seen = recorder->seen();
    EXPECT_EQ(seen.reads.size(), readsAtDisconnect);
    EXPECT_FALSE(seen.lastError);
}

TEST_F(SocketTest, RefusalsAtTheCallAndLaterAndAConnectionByHost)
{
    EXPECT_TRUE(socket->connectToUrl("", 10));
    EXPECT_TRUE(socket->connectToUrl(std::string(200, 'p'), 10));

    ASSERT_EQ(socket->connectToUrl((dir / "nobody-here").string(), 10), std::nullopt);
    const auto again = socket->connectToUrl(peer.path().string(), 10);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->code, GCDAsyncSocket::kInUseError);
    ASSERT_TRUE(recorder->waitFor([](const Seen& s) { return s.disconnects == 1; }));
    EXPECT_EQ(recorder->seen().errorCode(), ENOENT);

    // Over TCP by name: refused where nothing listens, reported with its host and port where a
    // listener takes it.
    const auto refused = GCDAsyncSocket::initWithDelegate(recorder, queue);
    ASSERT_EQ(refused->connectToHost("localhost", test::unusedTcpPort()), std::nullopt);
    ASSERT_TRUE(recorder->waitFor([](const Seen& s) { return s.disconnects == 2; }));
    EXPECT_EQ(recorder->seen().errorCode(), ECONNREFUSED);
    EXPECT_EQ(recorder->seen().connects, 0);
    test::LoopbackListener listener;
    const auto byHost = GCDAsyncSocket::initWithDelegate(recorder, queue);
    ASSERT_EQ(byHost->connectToHost("127.0.0.1", listener.port()), std::nullopt);
    ASSERT_TRUE(recorder->waitFor([](const Seen& s) { return s.connects == 1; }));
    EXPECT_EQ(recorder->seen().host, "127.0.0.1");
    EXPECT_EQ(recorder->seen().port, listener.port());
    byHost->disconnect();
}

} // namespace
} // namespace vd
