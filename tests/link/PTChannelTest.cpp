#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "link/PTChannel.h"
#include "link/ServiceContract.h"
#include "platform/MainLoop.h"
#include "platform/MainQueue.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes frameBytes(std::uint32_t version, std::uint32_t type, std::uint32_t tag, const Bytes& payload,
                 std::optional<std::uint32_t> size = std::nullopt)
{
    Bytes out;
    for (std::uint32_t v : {version, type, tag, size.value_or(static_cast<std::uint32_t>(payload.size()))})
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<std::uint8_t>(v >> shift));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

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

struct Received {
    std::uint32_t type;
    std::uint32_t tag;
    std::optional<Bytes> payload;
};

// A channel wired to one end of a socketpair; the test plays the device on the other end.
class PTChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        peer_ = fds[1];
        PTChannelDelegate delegate;
        delegate.didReceiveFrame = [this](PTChannel&, std::uint32_t type, std::uint32_t tag, std::optional<PTData> payload) {
            received_.push_back({type, tag, payload ? std::optional<Bytes>(payload->bytes()) : std::nullopt});
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
        if (channel_)
            channel_->close();
        stream_.reset();
        loop_.runFor(20ms);
        if (peer_ >= 0)
            ::close(peer_);
    }

    void start() { ASSERT_FALSE(channel_->startReadingFromConnectedChannel(stream_)); }

    void peerSend(const Bytes& bytes) { ASSERT_EQ(::send(peer_, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size())); }

    Bytes peerRead(std::size_t count)
    {
        Bytes out(count);
        std::size_t got = 0;
        while (got < count) {
            pollfd pfd{peer_, POLLIN, 0};
            if (::poll(&pfd, 1, 5000) <= 0)
                break;
            const ssize_t n = ::read(peer_, out.data() + got, count - got);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        out.resize(got);
        return out;
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

TEST(PTProtocolFrame, HeaderIsBigEndianVersionTypeTagSize)
{
    const Bytes payload(14, 0x41);
    const Bytes frame = PTProtocol::createFrame(3004, 999, payload);
    const Bytes header{0, 0, 0, 1, 0, 0, 0x0B, 0xBC, 0, 0, 0x03, 0xE7, 0, 0, 0, 0x0E};
    ASSERT_EQ(frame.size(), 30u);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 16), header);
    EXPECT_EQ(Bytes(frame.begin() + 16, frame.end()), payload);
    EXPECT_EQ(PTProtocol::createFrame(7, 0xFFFFFFFFu, {}), (Bytes{0, 0, 0, 1, 0, 0, 0, 7, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
}

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
    // The first connection is untouched.
    EXPECT_TRUE(channel_->isConnected());
    peerSend(frameBytes(1, 5, 6, {9}));
    ASSERT_TRUE(loop_.runUntil([&] { return received_.size() == 1; }, 5s));
    EXPECT_EQ(channel_->description(), "<PTChannel connected>");
}

TEST_F(PTChannelTest, ReadLoopDeliversFramesAndEmptyPayloadsAsNone)
{
    start();
    const Bytes wire = concat(frameBytes(1, 3004, 999, {1, 2, 3}), frameBytes(1, 42, 7, {}));
    // Split mid-header and mid-payload so the loop must wait for more bytes.
    // A piece of a frame delivers nothing; the short waits only let the loop read each piece.
    peerSend(Bytes(wire.begin(), wire.begin() + 5));
    EXPECT_FALSE(loop_.runUntil([&] { return !received_.empty(); }, 20ms));
    peerSend(Bytes(wire.begin() + 5, wire.begin() + 17));
    EXPECT_FALSE(loop_.runUntil([&] { return !received_.empty(); }, 20ms));
    peerSend(Bytes(wire.begin() + 17, wire.end()));
    ASSERT_TRUE(loop_.runUntil([&] { return received_.size() == 2; }, 5s));
    EXPECT_EQ(received_[0].type, 3004u);
    EXPECT_EQ(received_[0].tag, 999u);
    EXPECT_EQ(received_[0].payload, (Bytes{1, 2, 3}));
    EXPECT_EQ(received_[1].type, 42u);
    EXPECT_FALSE(received_[1].payload);
    EXPECT_EQ(ends_, 0);
}

TEST_F(PTChannelTest, RefusedFramesAreSkippedWithTheirPayload)
{
    PTChannelDelegate delegate;
    delegate.shouldAcceptFrame = [](PTChannel&, std::uint32_t type, std::uint32_t, std::uint32_t) { return type != 13; };
    delegate.didReceiveFrame = [this](PTChannel&, std::uint32_t type, std::uint32_t tag, std::optional<PTData> payload) {
        received_.push_back({type, tag, payload ? std::optional<Bytes>(payload->bytes()) : std::nullopt});
    };
    channel_->setDelegate(delegate);
    start();
    const Bytes wire = concat(frameBytes(1, 13, 1, Bytes(100000, 0xEE)), frameBytes(1, 14, 2, {7}));
    std::thread writer([&] { peerSend(wire); });
    ASSERT_TRUE(loop_.runUntil([&] { return received_.size() == 1; }, 5s));
    writer.join();
    EXPECT_EQ(received_[0].type, 14u);
    EXPECT_EQ(received_[0].payload, Bytes{7});
}

TEST_F(PTChannelTest, WrongVersionOrPayloadAboveTheCapEndsOnceWithProtocolError)
{
    for (const Bytes& wire : {frameBytes(2, 3004, 1, {}), frameBytes(1, 3004, 1, {}, static_cast<std::uint32_t>(contract::kMaxPacketBytes + 1))}) {
        TearDown();
        SetUp();
        ends_ = 0;
        start();
        peerSend(wire);
        ASSERT_TRUE(waitForEnd());
        ASSERT_TRUE(endError_);
        EXPECT_EQ(endError_->domain, "PTProtocolError");
        EXPECT_EQ(endError_->code, 0);
        EXPECT_FALSE(closingError_);
        EXPECT_FALSE(channel_->isConnected());
        EXPECT_FALSE(channel_->endError()) << "told once, then forgotten";
        EXPECT_TRUE(received_.empty());
        // A second end would come from the same read; a short wait is enough to see none.
        EXPECT_FALSE(loop_.runUntil([&] { return ends_ > 1; }, 30ms));
    }
}

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

TEST_F(PTChannelTest, PayloadsLargerThanOneReadSliceArriveWhole)
{
    start();
    Bytes payload(300000);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    const Bytes wire = frameBytes(1, 3004, 5, payload);
    std::thread writer([&] { peerSend(wire); });
    const bool arrived = loop_.runUntil([&] { return received_.size() == 1; }, 10s);
    writer.join();
    ASSERT_TRUE(arrived);
    EXPECT_EQ(received_[0].payload, payload);
}

// Ends of the stream that are no error: an end-of-stream frame, or the peer closing between
// frames or inside one. Only whole frames are delivered, and nothing after the end.
struct CleanEnd {
    const char* name;
    Bytes wire;
    bool peerCloses;
    std::size_t delivered;
};

class PTChannelEndTest : public PTChannelTest, public ::testing::WithParamInterface<CleanEnd> {};

TEST_P(PTChannelEndTest, EndsWithoutErrorAndDeliversOnlyWholeFrames)
{
    start();
    peerSend(GetParam().wire);
    if (GetParam().peerCloses)
        ::shutdown(peer_, SHUT_WR);
    ASSERT_TRUE(waitForEnd());
    EXPECT_FALSE(endError_);
    EXPECT_EQ(received_.size(), GetParam().delivered);
    EXPECT_FALSE(channel_->isConnected());
}

INSTANTIATE_TEST_SUITE_P(Ends, PTChannelEndTest, ::testing::Values(
    CleanEnd{"TypeZero", concat(frameBytes(1, 0, 0, {}), frameBytes(1, 3004, 1, {1})), false, 0},
    CleanEnd{"BetweenFrames", frameBytes(1, 3004, 1, {1}), true, 1},
    CleanEnd{"InsideHeader", cut(frameBytes(1, 3004, 1, Bytes(10, 3)), 7), true, 0},
    CleanEnd{"InsidePayload", cut(frameBytes(1, 3004, 1, Bytes(10, 3)), 20), true, 0}),
    [](const auto& info) { return info.param.name; });

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

} // namespace
} // namespace vd
