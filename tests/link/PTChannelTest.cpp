#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "link/PTChannel.h"
#include "link/ServiceContract.h"
#include "platform/MainLoop.h"
#include "platform/MainQueue.h"
#include "support/FakeUsbDaemon.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::frameBytes;

Bytes concat(Bytes first, const Bytes& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Bytes cut(Bytes bytes, std::size_t length)
{
    bytes.resize(length);
    return bytes;
}

// A delivered frame's type, tag and payload.
using Received = std::tuple<std::uint32_t, std::uint32_t, std::optional<Bytes>>;

// Resident memory of this process in KiB, from the kernel's own account.
long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:" && status >> value)
            return value;
    }
    return 0;
}

TEST(PTProtocolFrame, HeaderIsBigEndianVersionTypeTagSize)
{
    const Bytes frame = PTProtocol::createFrame(3004, 999, Bytes(14, 0x41));
    EXPECT_EQ(frame, concat(Bytes{0, 0, 0, 1, 0, 0, 0x0B, 0xBC, 0, 0, 0x03, 0xE7, 0, 0, 0, 0x0E}, Bytes(14, 0x41)));
    EXPECT_EQ(PTProtocol::createFrame(7, 0xFFFFFFFFu, {}), (Bytes{0, 0, 0, 1, 0, 0, 0, 7, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
}

// A channel wired to one end of a socketpair; the test plays the device on the other end.
class PTChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        peer_ = fds[1];
        PTChannelDelegate delegate;
        // Frames of type 13 are refused, to be skipped with their payload.
        delegate.shouldAcceptFrame = [](PTChannel&, std::uint32_t type, std::uint32_t, std::uint32_t) { return type != 13; };
        delegate.didReceiveFrame = [this](PTChannel&, std::uint32_t type, std::uint32_t tag, std::optional<PTData> payload) {
            received_.emplace_back(type, tag, payload ? std::optional(payload->bytes()) : std::nullopt);
        };
        delegate.didEndWithError = [this](PTChannel& channel, std::optional<Error> closing) {
            ++ends_;
            endError_ = channel.endError();
            closingError_ = closing;
        };
        channel_ = PTChannel::channelWithDelegate(delegate);
        stream_ = UsbmuxStream::adopt(fds[0], MainQueue::shared(), channel_->endHandler());
    }
    void TearDown() override
    {
        // Every channel's end is told, so none is told later to a test that has gone.
        channel_->close();
        stream_.reset();
        EXPECT_TRUE(loop_.runUntil([this] { return ends_ > 0; }, 5s));
        ::close(peer_);
    }

    void start() { ASSERT_FALSE(channel_->startReadingFromConnectedChannel(stream_)); }
    void peerSend(const Bytes& bytes) { ASSERT_TRUE(test::sendAll(peer_, bytes)); }
    Bytes peerRead(std::size_t count)
    {
        Bytes out(count);
        return test::readExactly(peer_, out.data(), count) ? out : Bytes{};
    }
    bool waitForEnd() { return loop_.runUntil([this] { return ends_ > 0; }, 5s); }

    MainLoop loop_;
    int peer_ = -1;
    std::shared_ptr<PTChannel> channel_;
    std::shared_ptr<UsbmuxStream> stream_;
    std::vector<Received> received_;
    int ends_ = 0;
    std::optional<Error> endError_;
    std::optional<Error> closingError_;
};

TEST_F(PTChannelTest, WritesFromManyCallsArriveInIssueOrder)
{
    start();
    constexpr std::uint32_t kCount = 300;
    std::vector<std::uint32_t> completed;
    for (std::uint32_t i = 0; i < kCount; ++i)
        channel_->sendFrameOfType(3004, i, Bytes(1000 + i, static_cast<std::uint8_t>(i)),
                                  [&completed, i](std::optional<Error> e) { if (!e) completed.push_back(i); });
    channel_->sendFrameOfType(3004, kCount, {}, nullptr);
    // The peer drains concurrently so the writes really queue behind each other.
    std::vector<Bytes> frames;
    std::thread reader([&] {
        for (std::uint32_t i = 0; i < kCount; ++i)
            frames.push_back(peerRead(16 + 1000 + i));
        frames.push_back(peerRead(16));
    });
    const bool done = loop_.runUntil([&] { return completed.size() == kCount; }, 10s);
    reader.join();
    ASSERT_TRUE(done);
    for (std::uint32_t i = 0; i < kCount; ++i) {
        EXPECT_EQ(completed[i], i);
        EXPECT_EQ(frames[i], frameBytes(1, 3004, i, Bytes(1000 + i, static_cast<std::uint8_t>(i))));
    }
    EXPECT_EQ(frames[kCount], frameBytes(1, 3004, kCount, {}));
}

TEST_F(PTChannelTest, WrongStatesFailWithEPERM)
{
    std::optional<Error> sendError;
    channel_->sendFrameOfType(3004, 1, {}, [&](std::optional<Error> e) { sendError = e; });
    ASSERT_TRUE(sendError);
    EXPECT_EQ(sendError->code, EPERM);
    start();
    std::optional<Error> connectError;
    channel_->connectToPort(6171, PTUSBHub::create(), 1, [&](std::optional<Error> e) { connectError = e; });
    ASSERT_TRUE(connectError);
    EXPECT_EQ(connectError->code, EPERM);
    EXPECT_TRUE(channel_->isConnected()) << "the first connection is untouched";
}

// Frames come whole however the bytes are cut; a refused frame is skipped with its payload, one
// larger than a read slice arrives whole, an empty payload is none.
TEST_F(PTChannelTest, ReadLoopDeliversWholeFramesAndSkipsRefusedOnes)
{
    start();
    Bytes large(300000);
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    const Bytes first = frameBytes(1, 3004, 999, {1, 2, 3});
    // A piece of a frame delivers nothing; the short waits only let the loop read each piece.
    peerSend(cut(first, 5));
    EXPECT_FALSE(loop_.runUntil([&] { return !received_.empty(); }, 20ms));
    peerSend(Bytes(first.begin() + 5, first.begin() + 17));
    EXPECT_FALSE(loop_.runUntil([&] { return !received_.empty(); }, 20ms));
    const Bytes rest = concat(concat(Bytes(first.begin() + 17, first.end()), frameBytes(1, 13, 1, Bytes(100000, 0xEE))),
                              concat(frameBytes(1, 3004, 5, large), frameBytes(1, 42, 7, {})));
    std::thread writer([&] { peerSend(rest); });
    const bool arrived = loop_.runUntil([&] { return received_.size() == 3; }, 10s);
    writer.join();
    ASSERT_TRUE(arrived);
    EXPECT_EQ(received_[0], Received(3004, 999, Bytes{1, 2, 3}));
    EXPECT_EQ(received_[1], Received(3004, 5, large));
    EXPECT_EQ(received_[2], Received(42, 7, std::nullopt));
    EXPECT_EQ(ends_, 0);
}

// A 16-byte header announcing the largest allowed payload once made the reader allocate (and
// zero) all 256 MB at once, before a single payload byte came.
TEST_F(PTChannelTest, AnnouncedPayloadCostsMemoryOnlyAsItsBytesArrive)
{
    start();
    const long before = residentKiB();
    peerSend(frameBytes(1, 3004, 1, Bytes(100, 7), static_cast<std::uint32_t>(contract::kMaxPacketBytes)));
    loop_.runFor(200ms);
    EXPECT_LT(residentKiB() - before, 32 * 1024);
    ::shutdown(peer_, SHUT_WR);
    ASSERT_TRUE(waitForEnd());
    EXPECT_TRUE(received_.empty());
}

TEST_F(PTChannelTest, CancelLetsPendingWritesFinish)
{
    start();
    std::optional<std::optional<Error>> result;
    channel_->sendFrameOfType(3004, 5, Bytes(200000, 1), [&](std::optional<Error> e) { result = e; });
    channel_->cancel();
    std::thread reader([&] { EXPECT_EQ(peerRead(200016).size(), 200016u); });
    ASSERT_TRUE(loop_.runUntil([&] { return result.has_value() && ends_ == 1; }, 5s));
    reader.join();
    EXPECT_FALSE(*result);
}

// How a stream ends: an end-of-stream frame, or the peer closing between frames or inside one,
// is no error; a wrong version or a payload above the cap is a protocol error. Only whole frames
// are delivered, nothing after the end, and the end is told once.
struct StreamEnd {
    const char* name;
    Bytes wire;
    bool peerCloses;
    std::size_t delivered;
    bool protocolError;
};

class PTChannelEndTest : public PTChannelTest, public ::testing::WithParamInterface<StreamEnd> {};

TEST_P(PTChannelEndTest, EndsOnceDeliveringOnlyWholeFrames)
{
    start();
    peerSend(GetParam().wire);
    if (GetParam().peerCloses)
        ::shutdown(peer_, SHUT_WR);
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(received_.size(), GetParam().delivered);
    EXPECT_FALSE(channel_->isConnected());
    EXPECT_FALSE(closingError_);
    EXPECT_EQ(endError_.has_value(), GetParam().protocolError);
    if (endError_) {
        EXPECT_EQ(endError_->domain, "PTProtocolError");
        EXPECT_EQ(endError_->code, 0);
        EXPECT_FALSE(channel_->endError()) << "told once, then forgotten";
    }
    // A second end would come from the same read; a short wait is enough to see none.
    EXPECT_FALSE(loop_.runUntil([&] { return ends_ > 1; }, 30ms));
}

INSTANTIATE_TEST_SUITE_P(Ends, PTChannelEndTest, ::testing::Values(
    StreamEnd{"TypeZero", concat(frameBytes(1, 0, 0, {}), frameBytes(1, 3004, 1, {1})), false, 0, false},
    StreamEnd{"BetweenFrames", frameBytes(1, 3004, 1, {1}), true, 1, false},
    StreamEnd{"InsideHeader", cut(frameBytes(1, 3004, 1, Bytes(10, 3)), 7), true, 0, false},
    StreamEnd{"InsidePayload", cut(frameBytes(1, 3004, 1, Bytes(10, 3)), 20), true, 0, false},
    StreamEnd{"WrongVersion", frameBytes(2, 3004, 1, {}), false, 0, true},
    StreamEnd{"AboveTheCap", frameBytes(1, 3004, 1, {}, static_cast<std::uint32_t>(contract::kMaxPacketBytes + 1)), false, 0, true}),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace vd
