#include <array>
#include <csignal>
#include <cstdio>
#include <string>

#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "VdVersion.h"
#include "support/FakeUsbDaemon.h"
#include "support/TempDir.h"

extern char** environ;

namespace vd {
namespace {

// What `vantorctl --version` prints after the program's name.
std::string printedVersion()
{
    std::string text;
    if (FILE* pipe = ::popen(VANTORCTL_PATH " --version", "r")) {
        std::array<char, 256> chunk{};
        while (std::fgets(chunk.data(), chunk.size(), pipe))
            text += chunk.data();
        ::pclose(pipe);
    }
    const std::string name = "vantorctl ";
    if (text.starts_with(name))
        text.erase(0, name.size());
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

std::string hexDump(const test::Bytes& bytes)
{
    std::string text;
    char pair[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
        text += (i % 16 == 15) ? '\n' : ' ';
    }
    return text;
}

// The real vantorctl, asked for a USB device, tells the daemon who it is in its first message.
TEST(UsbIdentityTest, VantorctlNamesItselfAndTheVersionItPrints)
{
    const std::string version = printedVersion();
    ASSERT_FALSE(version.empty());
    EXPECT_EQ(version, VD_VERSION_TEXT);

    test::TempDir dir;
    test::FakeDaemon daemon(dir / "usbmuxd");
    char program[] = VANTORCTL_PATH;
    char usb[] = "--usb";
    char port[] = "6170";
    char password[] = "--password";
    char secret[] = "x";
    char command[] = "tunnels";
    char* argv[] = {program, usb, port, password, secret, command, nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, program, nullptr, nullptr, argv, environ), 0);

    const int conn = daemon.accept();
    const auto listen = conn >= 0 ? daemon.readPacket(conn) : std::nullopt;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    ASSERT_TRUE(listen);
    EXPECT_EQ(listen->message["MessageType"], "Listen");
    EXPECT_EQ(listen->message["ProgName"], "vantorctl");
    EXPECT_EQ(listen->message["ClientVersionString"], version);
    // One daemon message as it went over the wire, for anyone checking by eye.
    std::printf("%s\n", hexDump(listen->bytes()).c_str());
}

} // namespace
} // namespace vd
