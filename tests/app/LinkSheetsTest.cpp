#include <string>

#include "ShellFixture.h"
#include "app/WindowId.h"
#include "integration/UsbmuxHarness.h"
#include "link/ServiceContract.h"
#include "support/FreePort.h"
#include "support/ScopedEnv.h"

namespace vd::test {
namespace {

constexpr std::uint32_t kPhone = 3;
constexpr std::int64_t kEnteredPort = 6170;

// The sheets that tell why a link is down, and where it went, on real windows.
using LinkSheetsTest = ShellTest;

TEST_F(LinkSheetsTest, MissingLocalSocketAndUnreachableRemoteServiceAreNamedWithAWayOut)
{
    const std::string socket = (dir_ / "absent" / "db.connect").string();
    auto window = localWindow(socket);
    ASSERT_TRUE(waitFor([&] { return sheetText(*window) == "Connect Closed"; }));
    EXPECT_EQ(sheetReason(*window), "No such file or directory");
    const QString detail = sheetDetail(*window);
    EXPECT_TRUE(detail.contains(QString::fromStdString(socket))) << detail.toStdString();
    EXPECT_TRUE(detail.contains(QString::fromStdString("\"vantor-sim --socket " + socket + "\""))) << detail.toStdString();

    // An unreachable remote service is named by host and port.
    const auto port = unusedTcpPort();
    auto remote = makeWindow(WindowId::remote("127.0.0.1", port, kPassword));
    remote->openRemoteWindowWithHost("127.0.0.1", port, kPassword);
    ASSERT_TRUE(waitFor([&] { return sheetText(*remote) == "Connect Closed"; }));
    EXPECT_FALSE(sheetReason(*remote).isEmpty());
    EXPECT_TRUE(sheetDetail(*remote).contains(QString("127.0.0.1:%1").arg(port))) << sheetDetail(*remote).toStdString();
    EXPECT_EQ(sheetButton(*remote, "Change Password..."), nullptr) << "only a refused login leads back";
}

// The daemon is started only after the window waits for it, and found without any action; how
// often its absence is logged is the USB link's case.
TEST_F(LinkSheetsTest, UsbWindowSaysTheDaemonIsMissingFindsItLaterAndTellsADetach)
{
    const std::string address = (dir_ / "usbmuxd").string();
    ScopedEnv daemonAddress("USBMUXD_SOCKET_ADDRESS", address);
    auto window = makeWindow(WindowId::usb(kEnteredPort, contract::kLocalPassword));
    window->openRemoteWindowWithUSBPort(kEnteredPort, contract::kLocalPassword);
    ASSERT_TRUE(waitFor([&] { return sheetText(*window) == "Connecting..."; }));
    ASSERT_TRUE(waitFor([&] { return sheetDetail(*window).contains(QString::fromStdString(address)); }));
    EXPECT_TRUE(sheetDetail(*window).contains("USB daemon cannot be reached"))
        << sheetDetail(*window).toStdString();

    UsbmuxHarness mux(address);
    mux.simulator.forwardPort(kPhone, kEnteredPort + 1, dir_ / "db.connect");
    mux.simulator.attach(kPhone);
    EXPECT_TRUE(waitFor([&] { return connected(*window) && sheetText(*window).isEmpty(); }, 10000));

    mux.simulator.detach(kPhone);
    EXPECT_TRUE(waitFor([&] { return sheetText(*window) == "Connect Closed"; }));
    EXPECT_EQ(sheetReason(*window), "The device was disconnected");
    EXPECT_FALSE(sheetDetail(*window).isEmpty());

    // Attached again, the window connects by itself.
    mux.simulator.attach(kPhone);
    EXPECT_TRUE(waitFor([&] { return connected(*window) && sheetText(*window).isEmpty(); }, 10000));
    window->window()->close();
}

} // namespace
} // namespace vd::test
