#include <csignal>
#include <cstdlib>
#include <optional>

#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "link/PTUSBHub.h"
#include "link/QNComClientManager.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"
#include "platform/MainQueue.h"
#include "support/Eventually.h"

extern char** environ;

namespace vd {
namespace {

using namespace std::chrono_literals;
using contract::HandshakeState;

constexpr const char* kDaemonSocket = "/var/run/usbmuxd";

bool daemonAnswers()
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", kDaemonSocket);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// The distribution's usbmuxd in the foreground, for as long as the test runs. It needs root
// (it owns /var/run/usbmuxd); where it cannot run the test says so and skips.
class RealDaemon {
public:
    RealDaemon()
    {
        if (daemonAnswers()) {
            usable_ = true; // one already runs: it answers the same protocol
            return;
        }
        if (::geteuid() != 0) {
            why_ = "the USB daemon needs root to own " + std::string(kDaemonSocket);
            return;
        }
        char name[] = "usbmuxd";
        char foreground[] = "-f";
        char* argv[] = {name, foreground, nullptr};
        if (::posix_spawnp(&pid_, name, nullptr, nullptr, argv, environ) != 0) {
            why_ = "usbmuxd is not installed (Debian package usbmuxd)";
            pid_ = 0;
            return;
        }
        usable_ = test::eventually(daemonAnswers, 5s);
        if (!usable_)
            why_ = "usbmuxd started but never answered on " + std::string(kDaemonSocket);
    }
    ~RealDaemon()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool usable() const { return usable_; }
    const std::string& why() const { return why_; }

private:
    pid_t pid_ = 0;
    bool usable_ = false;
    std::string why_;
};

// One case, because only one daemon can own its socket at a time and test cases run in
// parallel processes.
TEST(UsbmuxdDaemonTest, ListenConnectAndAWaitingLinkAgainstTheRealDaemon)
{
    const char* redirected = std::getenv("USBMUXD_SOCKET_ADDRESS");
    if (redirected)
        GTEST_SKIP() << "USBMUXD_SOCKET_ADDRESS points elsewhere: " << redirected;
    RealDaemon daemon;
    if (!daemon.usable())
        GTEST_SKIP() << "cannot run the real USB daemon here: " << daemon.why();

    MainLoop loop;
    auto hub = PTUSBHub::create(NotificationCenter::create());

    std::optional<std::optional<Error>> listened;
    hub->listenOnQueue(MainQueue::shared(), [&](std::optional<Error> error) { listened = error; }, {});
    ASSERT_TRUE(loop.runUntil([&] { return listened.has_value(); }, 5s));
    EXPECT_FALSE(listened->has_value()) << "Listen: " << logText(*listened);

    std::optional<std::optional<Error>> connected;
    hub->connectToDevice(424242, 6171,
                         [&](std::optional<Error> error, std::shared_ptr<UsbmuxStream>) { connected = error; }, {});
    ASSERT_TRUE(loop.runUntil([&] { return connected.has_value(); }, 5s));
    ASSERT_TRUE(connected->has_value());
    EXPECT_EQ((*connected)->domain, kPTUSBHubErrorDomain);
    EXPECT_EQ((*connected)->code, 2);
    EXPECT_EQ((*connected)->description, "unknown device");

    // No device will attach here: the link waits, quietly, until it is stopped.
    log::Capture capture;
    auto manager = QNComClientManager::create();
    int disconnects = 0;
    manager->setDisconnectBlock([&](const std::optional<std::string>&) { ++disconnects; });
    manager->startWithUSBPort(6170, "password");
    // What must not happen has no event to await: long enough for the link to have tried and
    // given up noisily, had it been going to.
    loop.runFor(1500ms);
    EXPECT_EQ(manager->state(), HandshakeState::noLink);
    manager->stop();
    // Only a late end report could come now; it would come at once.
    loop.runFor(100ms);
    EXPECT_EQ(disconnects, 0);
    for (const auto& line : capture.lines())
        EXPECT_FALSE(line.starts_with("Failed to connect")) << line;
}

} // namespace
} // namespace vd
