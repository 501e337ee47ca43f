#include <algorithm>
#include <cerrno>

#include <gtest/gtest.h>

#include "SimHarness.h"
#include "UsbmuxHarness.h"
#include "data/VDDataProcesser.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"
#include "support/ScopedEnv.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using contract::Command;
using contract::HandshakeState;

constexpr std::uint32_t kPhone = 7;
constexpr std::uint32_t kTablet = 8;
// Attached, but nothing listens on its service port: every Connect is refused.
constexpr std::uint32_t kLockedPhone = 9;
// The port a user types; the service listens one above it.
constexpr std::int64_t kEnteredPort = 6170;

// A client manager on a USB link: the usbmuxd simulator on its own thread, with devices whose
// service port leads to a vantor-sim; the manager's USB work, its reports included, runs on this
// thread's main loop.
class UsbLinkTest : public testing::Test {
protected:
    UsbLinkTest()
    {
        for (const auto device : {kPhone, kTablet})
            mux_.simulator.forwardPort(device, kEnteredPort + 1, dir_ / "service");
    }
    ~UsbLinkTest() override
    {
        manager_->stop();
        loop_.drain();
    }

    bool runUntil(const std::function<bool()>& done)
    {
        return loop_.runUntil([&] {
            std::lock_guard lock(probe_.mutex);
            return done();
        }, 10s);
    }
    bool loggedIn(int times = 1) { return runUntil([&] { return probe_.completions >= times; }); }
    bool ended(std::size_t count) { return runUntil([&] { return probe_.ends.size() >= count; }); }
    // The service pushes its information unasked, so replies are looked for by command.
    bool received(Command cmd)
    {
        return runUntil([&] {
            return std::ranges::any_of(probe_.packets, [&](const QNComPacket& packet) { return packet.cmd() == contract::numberOf(cmd); });
        });
    }

    test::TempDir dir_;
    test::ScopedEnv address_{"USBMUXD_SOCKET_ADDRESS", (dir_ / "usbmuxd").string()};
    test::SimHarness service_{{.socketPath = dir_ / "service", .scale = 20, .tickInterval = 0ms}};
    test::UsbmuxHarness mux_{dir_ / "usbmuxd"};
    MainLoop loop_;
    std::shared_ptr<QNComClientManager> manager_ = QNComClientManager::create();
    // Every report of a USB link is told on this thread.
    test::ManagerProbe probe_{*manager_};
    const std::vector<LinkEnd>& ends_ = probe_.ends;
};

// One manager through its links' lives: a command waits for the login, every end is told once
// with its cause, and the old link's end comes before the new one's login, so an owner is never
// left thinking the new link is down.
TEST_F(UsbLinkTest, EachEndIsToldOnceWithItsCause)
{
    log::Capture capture;
    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    EXPECT_EQ(manager_->state(), HandshakeState::noLink) << "nothing happens before a device attaches";
    manager_->requestDNSRecords();
    mux_.simulator.attach(kPhone);
    ASSERT_TRUE(loggedIn());
    EXPECT_EQ(manager_->state(), HandshakeState::ready);
    EXPECT_TRUE(received(Command::dnsRecords)) << "a command waits for the login";
    // The daemon's news come in order, so a repeated attach that did anything would be told
    // before the detach.
    mux_.simulator.attach(kPhone);
    mux_.simulator.detach(kPhone);
    ASSERT_TRUE(ended(1));
    EXPECT_EQ(ends_[0].cause, LinkEndCause::DeviceDetached);
    EXPECT_TRUE(capture.contains("PTUSBDeviceDidDetachNotification: 7"));
    EXPECT_EQ(manager_->state(), HandshakeState::noLink);

    mux_.simulator.attach(kPhone);
    ASSERT_TRUE(loggedIn(2));
    mux_.simulator.attach(kTablet);
    ASSERT_TRUE(loggedIn(3));
    ASSERT_EQ(ends_.size(), 2u);
    EXPECT_EQ(ends_[1].cause, LinkEndCause::Stopped) << "another device took over";
    manager_->requestCurrentTunnels();
    EXPECT_TRUE(received(Command::currentTunnels));
    manager_->stop();
    ASSERT_TRUE(ended(3));
    EXPECT_EQ(ends_[2].cause, LinkEndCause::Stopped);

    // The next start finds the devices the hub already knows: no new broadcast will come.
    manager_->startWithUSBPort(kEnteredPort, "not the password");
    ASSERT_TRUE(ended(4));
    EXPECT_EQ(ends_[3].cause, LinkEndCause::LoginRefused);
    EXPECT_EQ(manager_->state(), HandshakeState::noLink);
    EXPECT_EQ(ends_.size(), 4u);
    EXPECT_EQ(probe_.completions, 3);
}

// A daemon started after the link is found by the link's own retries, and its absence is
// logged once, not at every try.
TEST_F(UsbLinkTest, ADaemonStartedLaterIsFoundWithoutRestartingTheLink)
{
    const std::string address = (dir_ / "later-usbmuxd").string();
    address_.apply(address);
    std::vector<std::optional<QNComClientManager::USBDaemonUnreachable>> told;
    manager_->setUSBDaemonBlock([&](const auto& unreachable) { told.push_back(unreachable); });
    log::Capture capture;
    manager_->startWithUSBPort(kEnteredPort, contract::kLocalPassword);
    ASSERT_TRUE(loop_.runUntil([&] { return !told.empty(); }, 5s));
    ASSERT_TRUE(told[0]);
    EXPECT_EQ(told[0]->address, address);
    EXPECT_EQ(told[0]->error.code, ENOENT);
    EXPECT_TRUE(capture.contains("USB daemon cannot be reached at " + address + ": No such file or directory"));

    test::UsbmuxHarness later(address);
    later.simulator.forwardPort(kPhone, kEnteredPort + 1, dir_ / "service");
    later.simulator.attach(kPhone);
    ASSERT_TRUE(loggedIn());
    ASSERT_EQ(told.size(), 2u);
    EXPECT_FALSE(told[1]);
    EXPECT_EQ(std::ranges::count_if(capture.lines(), [](const std::string& line) { return line.starts_with("USB daemon cannot be reached at "); }), 1);
    EXPECT_TRUE(capture.contains("USB daemon reached at " + address));
    manager_->stop();
    loop_.drain();
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
    mux_.simulator.attach(kLockedPhone);
    ASSERT_TRUE(loop_.runUntil([&] { return failures() >= 1; }, 10s));
    const auto first = std::chrono::steady_clock::now();
    ASSERT_TRUE(loop_.runUntil([&] { return failures() >= 3; }, 10s));
    EXPECT_GE(std::chrono::steady_clock::now() - first, 1900ms) << "a second between attempts";

    if (GetParam() == WaitEnds::Detach) {
        mux_.simulator.detach(kLockedPhone);
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

// The processor polls the active list by itself after the login, and hands a detach's cause on.
TEST_F(UsbLinkTest, ProcessorGetsRecordsOverUSB)
{
    auto processer = VDDataProcesser::create();
    std::atomic<int> connected = 0;
    std::atomic<std::optional<LinkEndCause>> lost;
    processer->setConnectCompleteBlock([&](const std::optional<Error>&) { ++connected; });
    processer->setDisconnectBlock([&](const LinkEnd& end) { lost = end.cause; });
    processer->connectToUSBPort(kEnteredPort, contract::kLocalPassword);
    EXPECT_EQ(processer->connectStatus(), ConnectStatus::connecting);
    mux_.simulator.attach(kPhone);
    ASSERT_TRUE(loop_.runUntil([&] { return connected > 0 && !processer->currentTunnelInfos().empty(); }, 10s));
    EXPECT_EQ(processer->connectStatus(), ConnectStatus::connected);
    mux_.simulator.detach(kPhone);
    ASSERT_TRUE(loop_.runUntil([&] { return lost.load().has_value(); }, 10s));
    EXPECT_EQ(processer->connectStatus(), ConnectStatus::disconnected);
    EXPECT_EQ(lost.load(), LinkEndCause::DeviceDetached);
    processer->disconnect();
}

} // namespace
} // namespace vd
