#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "VdVersion.h"
#include "support/ChildProcess.h"
#include "support/FakeUsbDaemon.h"
#include "support/TempDir.h"

namespace vd {
namespace {

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
    test::TempDir dir;
    test::ChildProcess printing({VANTORCTL_PATH, "--version"}, {}, dir / "version.out");
    ASSERT_EQ(printing.finish(), 0);
    const std::string version = printing.output();
    EXPECT_EQ(version, "vantorctl " VD_VERSION_TEXT "\n");

    test::FakeDaemon daemon(dir / "usbmuxd");
    test::ChildProcess ctl({VANTORCTL_PATH, "--usb", "6170", "--password", "x", "tunnels"}, {}, dir / "ctl.out");
    const int conn = daemon.accept();
    const auto listen = conn >= 0 ? daemon.readPacket(conn) : std::nullopt;
    ctl.stop();
    ASSERT_TRUE(listen);
    EXPECT_EQ(listen->message["MessageType"], "Listen");
    EXPECT_EQ(listen->message["ProgName"], "vantorctl");
    EXPECT_EQ(listen->message["ClientVersionString"], VD_VERSION_TEXT);
    // One daemon message as it went over the wire, for anyone checking by eye.
    std::printf("%s\n", hexDump(listen->bytes()).c_str());
}

} // namespace
} // namespace vd
