#include <string>
#include <thread>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include "ShellFixture.h"
#include "UsbmuxSimulator.h"
#include "app/WindowId.h"
#include "link/ServiceContract.h"
#include "platform/Log.h"
#include "support/FreePort.h"
#include "support/ScopedEnv.h"

namespace vd::test {
namespace {

constexpr std::uint32_t kPhone = 3;
constexpr std::int64_t kEnteredPort = 6170;

// The sheets that tell why a link is down, and where it went, on real windows.
class LinkSheetsTest : public ShellTest {
protected:
    static int count(const log::Capture& capture, const std::string& start)
    {
        int found = 0;
        for (const auto& line : capture.lines())
            found += line.starts_with(start);
        return found;
    }
};

TEST_F(LinkSheetsTest, MissingLocalSocketAndUnreachableRemoteServiceAreNamedWithAWayOut)
{
    const std::string socket = (dir_ / "absent" / "db.connect").string();
    auto window = makeWindow(WindowId::local());
    window->openLocalWindow(socket);
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

// The daemon is started only after the window waits for it, and found without any action.
TEST_F(LinkSheetsTest, UsbWindowSaysTheDaemonIsMissingFindsItLaterAndTellsADetach)
{
    const std::string address = (dir_ / "usbmuxd").string();
    ScopedEnv daemonAddress("USBMUXD_SOCKET_ADDRESS", address);
    log::Capture capture;

    auto window = makeWindow(WindowId::usb(kEnteredPort, contract::kLocalPassword));
    window->openRemoteWindowWithUSBPort(kEnteredPort, contract::kLocalPassword);
    ASSERT_TRUE(waitFor([&] { return sheetText(*window) == "Connecting..."; }));
    ASSERT_TRUE(waitFor([&] { return sheetDetail(*window).contains(QString::fromStdString(address)); }));
    EXPECT_TRUE(sheetDetail(*window).contains("USB daemon cannot be reached")) << sheetDetail(*window).toStdString();

    asio::io_context context;
    auto guard = asio::make_work_guard(context);
    sim::UsbmuxSimulator mux(context, address);
    ASSERT_FALSE(mux.start());
    mux.forwardPort(kPhone, kEnteredPort + 1, dir_ / "db.connect");
    std::thread muxThread([&] { context.run(); });
    mux.attach(kPhone);

    EXPECT_TRUE(waitFor([&] { return connected(*window) && sheetText(*window).isEmpty(); }, 10000));
    EXPECT_EQ(count(capture, "USB daemon cannot be reached at " + address + ": "), 1) << "told once, not at every try";
    EXPECT_EQ(count(capture, "USB daemon reached at " + address), 1);

    mux.detach(kPhone);
    EXPECT_TRUE(waitFor([&] { return sheetText(*window) == "Connect Closed"; }));
    EXPECT_EQ(sheetReason(*window), "The device was disconnected");
    EXPECT_FALSE(sheetDetail(*window).isEmpty());

    // Attached again, the window connects by itself.
    mux.attach(kPhone);
    EXPECT_TRUE(waitFor([&] { return connected(*window) && sheetText(*window).isEmpty(); }, 10000));

    window->window()->close();
    asio::post(context, [&] { mux.stop(); });
    guard.reset();
    muxThread.join();
}

} // namespace
} // namespace vd::test
