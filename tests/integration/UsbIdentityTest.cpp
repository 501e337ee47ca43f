#include <gtest/gtest.h>

#include "VdVersion.h"
#include "support/ChildProcess.h"
#include "support/FakeUsbDaemon.h"
#include "support/TempDir.h"

namespace vd {
namespace {

// The real vantorctl, asked for a USB device, tells the daemon who it is in its first message:
// the name and the version it prints.
TEST(UsbIdentityTest, VantorctlNamesItselfAndTheVersionItPrints)
{
    test::TempDir dir;
    test::ChildProcess printing({VANTORCTL_PATH, "--version"}, {}, dir / "version.out");
    ASSERT_EQ(printing.finish(), 0);
    EXPECT_EQ(printing.output(), "vantorctl " VD_VERSION_TEXT "\n");

    test::FakeDaemon daemon(dir / "usbmuxd");
    test::ChildProcess ctl({VANTORCTL_PATH, "--usb", "6170", "--password", "x", "tunnels"}, {}, dir / "ctl.out");
    const int conn = daemon.accept();
    const auto listen = conn >= 0 ? daemon.readPacket(conn) : std::nullopt;
    ctl.stop();
    ASSERT_TRUE(listen);
    EXPECT_EQ(listen->message["MessageType"], "Listen");
    EXPECT_EQ(listen->message["ProgName"], "vantorctl");
    EXPECT_EQ(listen->message["ClientVersionString"], VD_VERSION_TEXT);
}

} // namespace
} // namespace vd
