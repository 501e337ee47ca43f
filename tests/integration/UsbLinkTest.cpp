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
// service port leads to a vantor-sim; the manager's USB work runs on this thread's main loop.
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
    }
    ~UsbLinkTest() override
    {
        manager_->stop();
        loop_.runFor(50ms);
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
    // The service pushes its information unasked, so replies are looked for by command.
    bool received(Command cmd)
    {
        return runUntil([&] {
            return std::ranges::any_of(probe_.packets, [&](const QNComPacket& packet) { return packet.cmd() == contract::numberOf(cmd); });
        });
    }
    std::size_t disconnects()
    {
        std::lock_guard lock(probe_.mutex);
        return probe_.disconnects.size();
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
};

TEST_F(UsbLinkTest, AttachConnectsToThePortAboveTheEnteredOneAndLogsIn)
{
    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    loop_.runFor(100ms);
    EXPECT_EQ(manager_->state(), HandshakeState::noLink) << "nothing happens before a device attaches";

    mux_.attach(kPhone);
    ASSERT_TRUE(loggedIn());
    EXPECT_EQ(manager_->state(), HandshakeState::ready);

    manager_->requestCurrentTunnels();
    EXPECT_TRUE(received(Command::currentTunnels));
}

TEST_F(UsbLinkTest, CommandsIssuedBeforeTheDeviceAttachesWaitForTheLogin)
{
    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    manager_->requestDNSRecords();
    mux_.attach(kPhone);
    EXPECT_TRUE(received(Command::dnsRecords));
}

TEST_F(UsbLinkTest, WrongPasswordIsReportedOnceWithTheServiceReason)
{
    manager_->startWithUSBPort(kEnteredPort, "not the password");
    mux_.attach(kPhone);
    ASSERT_TRUE(runUntil([&] { return !probe_.disconnects.empty(); }));
    loop_.runFor(200ms);
    EXPECT_EQ(disconnects(), 1u);
    EXPECT_EQ(probe_.completions, 0);
    EXPECT_EQ(manager_->state(), HandshakeState::noLink);
}

TEST_F(UsbLinkTest, DetachEndsTheLinkOnceAndReattachReconnects)
{
    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    mux_.attach(kPhone);
    ASSERT_TRUE(loggedIn());

    log::Capture capture;
    mux_.detach(kPhone);
    ASSERT_TRUE(runUntil([&] { return !probe_.disconnects.empty(); }));
    loop_.runFor(300ms);
    EXPECT_EQ(disconnects(), 1u);
    EXPECT_TRUE(capture.contains("PTUSBDeviceDidDetachNotification: 7"));
    EXPECT_EQ(manager_->state(), HandshakeState::noLink);

    mux_.attach(kPhone);
    ASSERT_TRUE(loggedIn(2));
    EXPECT_EQ(disconnects(), 1u);
}

TEST_F(UsbLinkTest, EndsTellADetachAStopAndARefusedLoginApart)
{
    std::vector<LinkEnd> ends;
    manager_->setDisconnectBlock([&](const LinkEnd& end) { ends.push_back(end); });
    const auto endCount = [&](std::size_t count) { return loop_.runUntil([&] { return ends.size() >= count; }, 10s); };

    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    mux_.attach(kPhone);
    ASSERT_TRUE(loggedIn());
    mux_.detach(kPhone);
    ASSERT_TRUE(endCount(1));
    EXPECT_EQ(ends[0].cause, LinkEndCause::DeviceDetached);

    mux_.attach(kPhone);
    ASSERT_TRUE(loggedIn(2));
    manager_->stop();
    ASSERT_TRUE(endCount(2));
    EXPECT_EQ(ends[1].cause, LinkEndCause::Stopped);

    manager_->startWithUSBPort(kEnteredPort, "not the password");
    ASSERT_TRUE(endCount(3));
    EXPECT_EQ(ends[2].cause, LinkEndCause::LoginRefused);
    EXPECT_EQ(ends.size(), 3u);
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
    loop_.runFor(50ms);
    std::promise<void> stopped;
    asio::post(muxContext_, [&] {
        later.stop();
        stopped.set_value();
    });
    stopped.get_future().wait();
}

TEST_F(UsbLinkTest, SecondAttachOfTheSameDeviceChangesNothing)
{
    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    mux_.attach(kPhone);
    ASSERT_TRUE(loggedIn());
    mux_.attach(kPhone);
    loop_.runFor(300ms);
    EXPECT_EQ(disconnects(), 0u);
    EXPECT_EQ(probe_.completions, 1);
    EXPECT_EQ(manager_->state(), HandshakeState::ready);
}

TEST_F(UsbLinkTest, AnotherDeviceAttachingTakesTheLinkOver)
{
    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    mux_.attach(kPhone);
    ASSERT_TRUE(loggedIn());

    mux_.attach(kTablet);
    ASSERT_TRUE(loggedIn(2));
    // The old link's end comes first, so an owner is never left thinking the new one is down.
    std::lock_guard lock(probe_.mutex);
    EXPECT_EQ(probe_.disconnects.size(), 1u);
    EXPECT_EQ(manager_->state(), HandshakeState::ready);
}

TEST_F(UsbLinkTest, RefusedAttemptsRepeatEverySecondUntilTheDeviceGoes)
{
    log::Capture capture;
    const std::string failure = "Failed to connect to device #9: ";
    const auto failures = [&] {
        std::size_t count = 0;
        for (const auto& line : capture.lines())
            count += line.starts_with(failure);
        return count;
    };
    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    mux_.attach(kLockedPhone);
    ASSERT_TRUE(loop_.runUntil([&] { return failures() >= 1; }, 5s));
    loop_.runFor(2300ms);
    EXPECT_GE(failures(), 3u);
    EXPECT_LE(failures(), 4u);
    EXPECT_EQ(disconnects(), 0u) << "an attempt that never connected is not a lost link";

    mux_.detach(kLockedPhone);
    loop_.runFor(300ms);
    const auto afterDetach = failures();
    loop_.runFor(1500ms);
    EXPECT_EQ(failures(), afterDetach);
    EXPECT_EQ(disconnects(), 0u);
}

TEST_F(UsbLinkTest, StopWithAChannelReportsOneEndAndStopsFollowingDevices)
{
    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    mux_.attach(kPhone);
    ASSERT_TRUE(loggedIn());

    manager_->stop();
    ASSERT_TRUE(runUntil([&] { return !probe_.disconnects.empty(); }));
    mux_.detach(kPhone);
    mux_.attach(kPhone);
    loop_.runFor(500ms);
    EXPECT_EQ(disconnects(), 1u);
    EXPECT_EQ(probe_.completions, 1);
    EXPECT_EQ(manager_->state(), HandshakeState::noLink);
}

TEST_F(UsbLinkTest, StopWhileWaitingEndsRetriesSilently)
{
    log::Capture capture;
    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    mux_.attach(kLockedPhone);
    ASSERT_TRUE(loop_.runUntil([&] { return !capture.lines().empty(); }, 5s));
    manager_->stop();
    capture.clear();
    loop_.runFor(1500ms);
    for (const auto& line : capture.lines())
        EXPECT_FALSE(line.starts_with("Failed to connect")) << line;
    EXPECT_EQ(disconnects(), 0u);
}

TEST_F(UsbLinkTest, RestartingWhileTheDeviceIsAttachedConnectsAtOnce)
{
    mux_.attach(kPhone);
    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    ASSERT_TRUE(loggedIn()) << "a device present before the start is announced when listening begins";

    manager_->stop();
    ASSERT_TRUE(runUntil([&] { return !probe_.disconnects.empty(); }));
    // The hub has seen the device already: no new broadcast will come.
    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    ASSERT_TRUE(loggedIn(2));
}

TEST_F(UsbLinkTest, EnteredPortsWithoutADevicePortAreRefused)
{
    log::Capture capture;
    manager_->startWithUSBPort(65535, contract::kLocalPassword);
    mux_.attach(kPhone);
    loop_.runFor(300ms);
    EXPECT_TRUE(capture.contains("Connect fail with error: invalid port 65535"));
    EXPECT_EQ(probe_.completions, 0);
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
