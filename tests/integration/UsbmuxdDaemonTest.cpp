#include <csignal>
#include <cstdlib>
#include <optional>

#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "link/PTUSBHub.h"
#include "platform/MainLoop.h"
#include "platform/MainQueue.h"
#include "support/Eventually.h"
#include "support/Listening.h"

extern char** environ;

namespace vd {
namespace {

using namespace std::chrono_literals;

constexpr const char* kDaemonSocket = "/var/run/usbmuxd";

// One case, because only one daemon can own its socket at a time and test cases run in
// parallel processes. The distribution's usbmuxd runs in the foreground for the test; it needs
// root to own its socket, and where it cannot run the test says so and skips.
TEST(UsbmuxdDaemonTest, ListenAndConnectAgainstTheRealDaemon)
{
    if (const char* redirected = std::getenv("USBMUXD_SOCKET_ADDRESS"))
        GTEST_SKIP() << "USBMUXD_SOCKET_ADDRESS points elsewhere: " << redirected;
    // A daemon the test started is ended with it, however the test ends.
    struct Started {
        pid_t pid = 0;
        ~Started()
        {
            if (pid > 0 && ::kill(pid, SIGTERM) == 0)
                ::waitpid(pid, nullptr, 0);
        }
    } daemon;
    if (!test::listening(kDaemonSocket)) {
        if (::geteuid() != 0)
            GTEST_SKIP() << "the USB daemon needs root to own " << kDaemonSocket;
        char name[] = "usbmuxd";
        char foreground[] = "-f";
        char* argv[] = {name, foreground, nullptr};
        if (::posix_spawnp(&daemon.pid, name, nullptr, nullptr, argv, environ) != 0) {
            daemon.pid = 0;
            GTEST_SKIP() << "usbmuxd is not installed (Debian package usbmuxd)";
        }
    }
    ASSERT_TRUE(test::eventually([] { return test::listening(kDaemonSocket); }, 5s)) << "usbmuxd never answered on " << kDaemonSocket;
    MainLoop loop;
    auto hub = PTUSBHub::create(NotificationCenter::create());
    std::optional<std::optional<Error>> listened;
    hub->listenOnQueue(MainQueue::shared(), [&](std::optional<Error> error) { listened = error; }, {});
    ASSERT_TRUE(loop.runUntil([&] { return listened.has_value(); }, 5s));
    EXPECT_FALSE(listened->has_value()) << "Listen: " << logText(*listened);
    std::optional<std::optional<Error>> connected;
    hub->connectToDevice(424242, 6171, [&](std::optional<Error> error, std::shared_ptr<UsbmuxStream>) { connected = error; }, {});
    ASSERT_TRUE(loop.runUntil([&] { return connected.has_value(); }, 5s));
    ASSERT_TRUE(connected->has_value());
    EXPECT_EQ((*connected)->domain, kPTUSBHubErrorDomain);
    EXPECT_EQ((*connected)->code, 2);
    EXPECT_EQ((*connected)->description, "unknown device");
}

} // namespace
} // namespace vd
