#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "SimHarness.h"
#include "UsbmuxSimulator.h"
#include "data/VDDataProcesser.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using contract::Command;
using contract::HandshakeState;
using test::ManagerProbe;
using test::SimHarness;

constexpr std::uint32_t kPhone = 7;
constexpr std::uint32_t kTablet = 8;
// Attached, but nothing listens on its service port: every Connect is refused.
constexpr std::uint32_t kLockedPhone = 9;
// The port a user types; the service listens one above it.
constexpr std::int64_t kEnteredPort = 6170;

sim::SimulatorOptions serviceOptions(std::filesystem::path socket)
{
    sim::SimulatorOptions options;
    options.socketPath = std::move(socket);
    options.scale = 20;
    options.tickInterval = 0ms;
    return options;
}

// A client manager on a USB link: the usbmuxd simulator on its own thread, with devices whose
// service port leads to a vantor-sim; the manager's USB work, its reports included, runs on this
// thread's main loop.
class UsbLinkTest : public testing::Test {
protected:
    UsbLinkTest()
    {
        setenv("USBMUXD_SOCKET_ADDRESS", (dir_ / "usbmuxd").c_str(), 1);
        if (const auto error = mux_.start())
            throw std::runtime_error(*error);
        for (const auto device : {kPhone, kTablet})
            mux_.forwardPort(device, kEnteredPort + 1, dir_ / "service");
        muxThread_ = std::thread([this] { muxContext_.run(); });
        manager_->setDisconnectBlock([this](const LinkEnd& end) { ends_.push_back(end); });
    }
    ~UsbLinkTest() override
    {
        manager_->stop();
        loop_.drain();
        manager_.reset();
        asio::post(muxContext_, [this] { mux_.stop(); });
        guard_.reset();
        muxThread_.join();
        unsetenv("USBMUXD_SOCKET_ADDRESS");
    }

    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s)
    {
        return loop_.runUntil([&] {
            std::lock_guard lock(probe_.mutex);
            return done();
        }, limit);
    }
    bool loggedIn(int times = 1)
    {
        return runUntil([&] { return probe_.completions >= times; });
    }
    bool ended(std::size_t count) { return runUntil([&] { return ends_.size() >= count; }); }
    // The service pushes its information unasked, so replies are looked for by command.
    bool received(Command cmd)
    {
        return runUntil([&] {
            return std::ranges::any_of(probe_.packets, [&](const QNComPacket& packet) { return packet.cmd() == contract::numberOf(cmd); });
        });
    }

    test::TempDir dir_;
    SimHarness service_{serviceOptions(dir_ / "service")};
    asio::io_context muxContext_;
    asio::executor_work_guard<asio::io_context::executor_type> guard_ = asio::make_work_guard(muxContext_);
    sim::UsbmuxSimulator mux_{muxContext_, dir_ / "usbmuxd"};
    std::thread muxThread_;
    MainLoop loop_;
    std::shared_ptr<QNComClientManager> manager_ = QNComClientManager::create();
    ManagerProbe probe_{*manager_};
    // Told on this thread, as every report of a USB link.
    std::vector<LinkEnd> ends_;
};

TEST_F(UsbLinkTest, AttachConnectsToThePortAboveTheEnteredOneAndCommandsWaitForTheLogin)
{
    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    EXPECT_EQ(manager_->state(), HandshakeState::noLink) << "nothing happens before a device attaches";
    manager_->requestDNSRecords();

    mux_.attach(kPhone);
    ASSERT_TRUE(loggedIn());
    EXPECT_EQ(manager_->state(), HandshakeState::ready);
    EXPECT_TRUE(received(Command::dnsRecords));
    manager_->requestCurrentTunnels();
    EXPECT_TRUE(received(Command::currentTunnels));
}

// One link through its life: each end is told once, with its cause.
TEST_F(UsbLinkTest, EndsTellADetachAStopAndARefusedLoginApart)
{
    log::Capture capture;
    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    mux_.attach(kPhone);
    ASSERT_TRUE(loggedIn());
    // The daemon's news come in order, so a repeated attach that did anything would be told
    // before the detach.
    mux_.attach(kPhone);
    mux_.detach(kPhone);
    ASSERT_TRUE(ended(1));
    EXPECT_EQ(ends_[0].cause, LinkEndCause::DeviceDetached);
    EXPECT_TRUE(capture.contains("PTUSBDeviceDidDetachNotification: 7"));
    EXPECT_EQ(manager_->state(), HandshakeState::noLink);

    mux_.attach(kPhone);
    ASSERT_TRUE(loggedIn(2));
    manager_->stop();
    ASSERT_TRUE(ended(2));
    EXPECT_EQ(ends_[1].cause, LinkEndCause::Stopped);

    // The next start finds the device the hub already knows: no new broadcast will come.
    manager_->startWithUSBPort(kEnteredPort, "not the password");
    ASSERT_TRUE(ended(3));
    EXPECT_EQ(ends_[2].cause, LinkEndCause::LoginRefused);
    EXPECT_EQ(manager_->state(), HandshakeState::noLink);
    EXPECT_EQ(ends_.size(), 3u);
    EXPECT_EQ(probe_.completions, 2);
}

// A daemon started after the link is found by the link's own retries, and its absence is
// logged once, not at every try.
TEST_F(UsbLinkTest, ADaemonStartedLaterIsFoundWithoutRestartingTheLink)
{
    const std::string address = (dir_ / "later-usbmuxd").string();
    setenv("USBMUXD_SOCKET_ADDRESS", address.c_str(), 1);
    std::vector<std::optional<QNComClientManager::USBDaemonUnreachable>> told;
    manager_->setUSBDaemonBlock([&](const auto& unreachable) { told.push_back(unreachable); });
    log::Capture capture;
    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    ASSERT_TRUE(loop_.runUntil([&] { return !told.empty(); }, 5s));
    ASSERT_TRUE(told[0]);
    EXPECT_EQ(told[0]->address, address);
    EXPECT_EQ(told[0]->error.code, ENOENT);
    EXPECT_TRUE(capture.contains("USB daemon cannot be reached at " + address + ": No such file or directory"));

    // Listening on a second simulator socket brings the daemon to where the link looks.
    sim::UsbmuxSimulator later(muxContext_, address);
    asio::post(muxContext_, [&] {
        EXPECT_FALSE(later.start());
        later.forwardPort(kPhone, kEnteredPort + 1, dir_ / "service");
        later.attach(kPhone);
    });
    ASSERT_TRUE(loggedIn());
    ASSERT_EQ(told.size(), 2u);
    EXPECT_FALSE(told[1]);
    std::size_t unreachableLines = 0;
    for (const auto& line : capture.lines())
        unreachableLines += line.starts_with("USB daemon cannot be reached at ");
    EXPECT_EQ(unreachableLines, 1u);

    manager_->stop();
    loop_.drain();
    std::promise<void> stopped;
    asio::post(muxContext_, [&] {
        later.stop();
        stopped.set_value();
    });
    stopped.get_future().wait();
}

TEST_F(UsbLinkTest, AnotherDeviceAttachingTakesTheLinkOver)
{
    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    mux_.attach(kPhone);
    ASSERT_TRUE(loggedIn());

    mux_.attach(kTablet);
    ASSERT_TRUE(loggedIn(2));
    // The old link's end comes first, so an owner is never left thinking the new one is down.
    ASSERT_EQ(ends_.size(), 1u);
    EXPECT_EQ(ends_[0].cause, LinkEndCause::Stopped);
    EXPECT_EQ(manager_->state(), HandshakeState::ready);
}

enum class WaitEnds { Detach, Stop };

class UsbLinkRetryTest : public UsbLinkTest, public testing::WithParamInterface<WaitEnds> {};

TEST_P(UsbLinkRetryTest, RefusedAttemptsRepeatEverySecondUntilTheDeviceGoesOrTheLinkStops)
{
    log::Capture capture;
    const auto failures = [&] {
        return std::ranges::count_if(capture.lines(), [](const std::string& line) { return line.starts_with("Failed to connect to device #9: "); });
    };
    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    mux_.attach(kLockedPhone);
    ASSERT_TRUE(loop_.runUntil([&] { return failures() >= 1; }, 10s));
    const auto first = std::chrono::steady_clock::now();
    ASSERT_TRUE(loop_.runUntil([&] { return failures() >= 3; }, 10s));
    EXPECT_GE(std::chrono::steady_clock::now() - first, 1900ms) << "a second between attempts";

    if (GetParam() == WaitEnds::Detach) {
        mux_.detach(kLockedPhone);
        ASSERT_TRUE(loop_.runUntil([&] { return capture.contains("PTUSBDeviceDidDetachNotification: 9"); }, 10s));
    } else {
        manager_->stop();
    }
    const auto atEnd = failures();
    // Nothing can be awaited here: no attempt may follow. Just over one retry interval is the
    // shortest wait that would see one; an attempt already at the daemon may still answer.
    loop_.runFor(1200ms);
    EXPECT_LE(failures(), atEnd + 1);
    EXPECT_TRUE(ends_.empty()) << "an attempt that never connected is not a lost link";
}

INSTANTIATE_TEST_SUITE_P(Ends, UsbLinkRetryTest, testing::Values(WaitEnds::Detach, WaitEnds::Stop),
                         [](const auto& info) { return info.param == WaitEnds::Detach ? "Detach" : "Stop"; });

TEST_F(UsbLinkTest, EnteredPortsWithoutADevicePortAreRefused)
{
    log::Capture capture;
    manager_->startWithUSBPort(65535, contract::kLocalPassword);
    EXPECT_TRUE(capture.contains("Connect fail with error: invalid port 65535"));
    manager_->requestInfo();
    EXPECT_TRUE(capture.contains("Message not sent because of socket closed")) << "no link was started";
}

TEST_F(UsbLinkTest, ProcessorGetsRecordsOverUSB)
{
    auto processer = VDDataProcesser::create();
    std::atomic<int> connected = 0;
    processer->setConnectCompleteBlock([&](const std::optional<Error>&) { ++connected; });
    processer->connectToUSBPort(kEnteredPort, contract::kLocalPassword);
    EXPECT_EQ(processer->connectStatus(), ConnectStatus::connecting);
    mux_.attach(kPhone);
    ASSERT_TRUE(loop_.runUntil([&] { return connected > 0; }, 10s));
    EXPECT_EQ(processer->connectStatus(), ConnectStatus::connected);
    // The processor polls the active list by itself, a second after the login.
    ASSERT_TRUE(loop_.runUntil([&] { return !processer->currentTunnelInfos().empty(); }, 10s));

    std::atomic<int> lost = 0;
    std::atomic<LinkEndCause> cause = LinkEndCause::Closed;
    processer->setDisconnectBlock([&](const LinkEnd& end) {
        cause = end.cause;
        ++lost;
    });
    mux_.detach(kPhone);
    ASSERT_TRUE(loop_.runUntil([&] { return lost > 0; }, 10s));
    EXPECT_EQ(processer->connectStatus(), ConnectStatus::disconnected);
    EXPECT_EQ(cause, LinkEndCause::DeviceDetached) << "the processor hands the cause on";
    processer->disconnect();
}

} // namespace
} // namespace vd
