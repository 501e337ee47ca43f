#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>

#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>

#include "ShellFixture.h"
#include "VdVersion.h"
#include "app/SingleInstance.h"
#include "app/VDAboutWindowController.h"
#include "app/VDStartWindowController.h"
#include "app/WindowId.h"
#include "data/VDDataManager.h"
#include "support/FakeUsbDaemon.h"
#include "support/Listening.h"
#include "support/WidgetProbe.h"

namespace vd::test {
namespace {

// SHA-256 of "abc".
constexpr const char* kAbcDigest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// The password enters the window's id only as its digest.
TEST(WindowIdTest, PasswordEntersAsItsDigest)
{
    EXPECT_EQ(WindowId::remote("10.0.0.2", 6170, "abc").idString, std::string("REM10.0.0.2:6170@") + kAbcDigest);
    EXPECT_EQ(WindowId::usb(-5, "abc").idString, std::string("REMUSB:-5@") + kAbcDigest);
}

class AppDelegateTest : public DelegateTest {
protected:
    static void closeWindow(VDWindowController* controller)
    {
        ASSERT_NE(controller, nullptr);
        controller->window()->close();
    }

    std::size_t remotes() const { return delegate_.windowControllers().size(); }

    // A menu item of a main window, as the user picks it.
    static QAction* menuItem(VDWindowController& controller, const QString& text)
    {
        for (QMenu* menu : controller.window()->findChildren<QMenu*>()) {
            if (QAction* found = test::menuItem(*menu, text))
                return found;
        }
        return nullptr;
    }

    template <typename Field>
    static Field* field(VDWindowController& controller, const char* name)
    {
        return controller.window()->findChild<Field*>(name);
    }
};

TEST_F(AppDelegateTest, RefusedLoginOffersReconnectAndLeadsBackToTheConnectWindowWithTheServiceFilledIn)
{
    VDMainWindowsController& refused = openRemote("wrong");
    ASSERT_TRUE(waitFor([&] { return sheetText(refused) == "Connect Closed"; }));
    EXPECT_FALSE(sheetReason(refused).isEmpty());
    EXPECT_TRUE(sheetDetail(refused).contains(QString("127.0.0.1:%1").arg(sim_.tcpPort()))) << sheetDetail(refused).toStdString();
    EXPECT_TRUE(qobject_cast<QPushButton*>(sheetButton(refused, "Reconnect"))->isDefault());
    // The connecting check of this attempt comes after the refusal and must not stack a second
    // sheet; its own delay is the wait.
    QTest::qWait(fastTiming().connectingCheck.count() + 100);
    EXPECT_EQ(visibleDialogs(refused), 1);
    QAbstractButton* back = sheetButton(refused, "Change Password...");
    ASSERT_NE(back, nullptr);
    EXPECT_FALSE(back->accessibleName().isEmpty());
    EXPECT_EQ(back->focusPolicy() & Qt::TabFocus, Qt::TabFocus);

    QTest::mouseClick(back, Qt::LeftButton);
    EXPECT_EQ(remotes(), 0u) << "the refused window goes";
    ASSERT_NE(delegate_.connectWindow(), nullptr);
    VDStartWindowController& connect = *delegate_.connectWindow();
    EXPECT_TRUE(connect.window()->isVisible());
    EXPECT_TRUE(field<QRadioButton>(connect, "remoteButton")->isChecked());
    EXPECT_EQ(field<QLineEdit>(connect, "remoteHost")->text(), "127.0.0.1");
    EXPECT_EQ(field<QLineEdit>(connect, "remotePort")->text(), QString::number(sim_.tcpPort()));
    auto* password = field<QLineEdit>(connect, "remotePassword");
    EXPECT_TRUE(password->text().isEmpty());
    EXPECT_EQ(connect.window()->focusWidget(), password);

    // The right password now reaches the service.
    password->setText(kPassword);
    QTest::mouseClick(field<QPushButton>(connect, "connectButton"), Qt::LeftButton);
    ASSERT_EQ(remotes(), 1u);
    EXPECT_TRUE(waitFor([&] { return connected(*delegate_.windowControllers().front()); }));
}

TEST_F(AppDelegateTest, UsbWindowsTellTheDaemonTheProgramsNameAndVersion)
{
    test::FakeDaemon daemon(dir_ / "usbmuxd");
    delegate_.applicationDidFinishLaunching();
    delegate_.createRemoteWindowWithUSBPort(6170, kPassword);
    const int conn = daemon.accept();
    ASSERT_GE(conn, 0);
    const auto listen = daemon.readPacket(conn);
    ASSERT_TRUE(listen);
    EXPECT_EQ(listen->message["MessageType"], "Listen");
    EXPECT_EQ(listen->message["ProgName"], "vantor-dashboard");
    EXPECT_EQ(listen->message["ClientVersionString"], VD_VERSION_TEXT);
    closeWindow(delegate_.windowControllers().front().get());
}

TEST_F(AppDelegateTest, SingleWindowsAreReusedHideLeavesThemOnScreenAndTheConnectWindowComesBackWithTheLastMainWindow)
{
    delegate_.applicationDidFinishLaunching();
    auto* connect = delegate_.connectWindow();
    ASSERT_NE(connect, nullptr);
    EXPECT_TRUE(connect->window()->isVisible());
    delegate_.showConnectWindow();
    EXPECT_EQ(delegate_.connectWindow(), connect);
    delegate_.about();
    auto* about = delegate_.aboutWindow();
    delegate_.about();
    EXPECT_EQ(delegate_.aboutWindow(), about);
    closeWindow(about); // with the connect window open, nothing else changes
    EXPECT_EQ(delegate_.connectWindow(), connect);

    // What the connect window does on "Connect": open first, then close itself.
    delegate_.createLocalWindow();
    QWidget* remote = openRemote().window();
    delegate_.about();

    // Hide minimises the main windows and leaves the connect and About windows on screen.
    QWidget* local = delegate_.localWindow()->window();
    menuItem(*delegate_.localWindow(), "Hide")->trigger();
    EXPECT_TRUE(local->isMinimized() && remote->isMinimized());
    for (QWidget* stays : {connect->window(), delegate_.aboutWindow()->window()})
        EXPECT_TRUE(stays->isVisible() && !stays->isMinimized()) << stays->windowTitle().toStdString();
    menuItem(*delegate_.localWindow(), "Show All")->trigger();
    EXPECT_FALSE(local->isMinimized() || remote->isMinimized());
    closeWindow(delegate_.aboutWindow());

    closeWindow(connect);
    EXPECT_EQ(delegate_.connectWindow(), nullptr);
    closeWindow(delegate_.windowControllers().front().get());
    EXPECT_EQ(delegate_.connectWindow(), nullptr) << "the local window is still open";
    closeWindow(delegate_.localWindow());
    EXPECT_EQ(delegate_.localWindow(), nullptr);
    ASSERT_NE(delegate_.connectWindow(), nullptr);
    EXPECT_EQ(quits_, 0);
    closeWindow(delegate_.connectWindow());
    EXPECT_EQ(quits_, 1);

    // The About window closing with no main window open also offers a way to connect.
    delegate_.about();
    closeWindow(delegate_.aboutWindow());
    EXPECT_EQ(delegate_.aboutWindow(), nullptr);
    EXPECT_NE(delegate_.connectWindow(), nullptr);
    EXPECT_EQ(quits_, 1);
}

TEST_F(AppDelegateTest, RemoteWindowsAreReusedByKindAndIdAndClosingOneEndsItsLink)
{
    auto* first = &openRemote();
    ASSERT_EQ(remotes(), 1u);
    ASSERT_TRUE(waitFor([&] { return connected(*first); }));
    const std::string id = first->idString();
    const auto processer = VDDataManager::sharedInstance().getProcesserOfId(id);

    EXPECT_EQ(&openRemote(), first);
    EXPECT_EQ(remotes(), 1u);
    EXPECT_EQ(VDDataManager::sharedInstance().getProcesserOfId(id), processer) << "no new processor";
    EXPECT_EQ(processer->connectStatus(), ConnectStatus::connected) << "not reconnected";
    openRemote("other");
    EXPECT_EQ(remotes(), 2u);

    // Same id string, other kind: a window of its own, and the TCP window keeps its link.
    EXPECT_EQ(WindowId::remote("USB", 7, "abc").idString, WindowId::usb(7, "abc").idString);
    delegate_.createRemoteWindowWithHost("USB", 7, "abc");
    delegate_.createRemoteWindowWithUSBPort(7, "abc");
    ASSERT_EQ(remotes(), 4u);
    EXPECT_EQ(delegate_.windowControllers()[2]->type(), ConnectionKind::Remote);
    EXPECT_EQ(delegate_.windowControllers()[3]->type(), ConnectionKind::USB);
    delegate_.createRemoteWindowWithUSBPort(7, "abc");
    EXPECT_EQ(remotes(), 4u);

    closeWindow(first);
    EXPECT_EQ(processer->connectStatus(), ConnectStatus::disconnected);
    EXPECT_EQ(VDDataManager::sharedInstance().getProcesserOfId(id), nullptr);
    EXPECT_TRUE(waitFor([&] {
        const auto lines = sim_.lines();
        return std::any_of(lines.begin(), lines.end(), [](const auto& line) { return line.contains("event") && line["event"] == "close"; });
    }, 3000)) << "the service sees the link end";
}

TEST_F(AppDelegateTest, OnlyALocalUrlOpensTheLocalWindow)
{
    delegate_.openURLs({"vantordashboard://elsewhere"});
    delegate_.openURLs({});
    EXPECT_EQ(delegate_.localWindow(), nullptr);

    // Launched with the URL: no connect window at start-up.
    delegate_.applicationDidFinishLaunching({"vantordashboard://local", "vantordashboard://elsewhere"});
    auto* local = delegate_.localWindow();
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(delegate_.connectWindow(), nullptr);
    EXPECT_EQ(local->idString(), "LCL");
    EXPECT_TRUE(waitFor([&] { return connected(*local); }));

    delegate_.openURLs({"vantordashboard://local"});
    EXPECT_EQ(delegate_.localWindow(), local);
}

// --- single instance ---------------------------------------------------------------------------

class SingleInstanceTest : public testing::Test {
protected:
    TempDir dir_;
    QString name_ = QString::fromStdString((dir_ / "instance").string());
};

TEST_F(SingleInstanceTest, ASocketLeftByACrashedRunIsTakenOver)
{
    // Bound but never listening: what a killed instance leaves behind.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    const sockaddr_un address = unixAddress(name_.toStdString());
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);

    SingleInstance instance(name_);
    EXPECT_EQ(instance.claim("vantordashboard://local"), SingleInstance::Role::Primary);
}

TEST_F(SingleInstanceTest, LaterLaunchesHandTheirUrlOverAndLeaveButAnOverlongOneIsDropped)
{
    SingleInstance running(name_);
    ASSERT_EQ(running.claim(""), SingleInstance::Role::Primary);
    QSignalSpy received(&running, &SingleInstance::messageReceived);
    QStringList messages;
    for (const QString& url : {QString(100000, 'x'), QString("vantordashboard://local"), QString()}) {
        SingleInstance later(name_);
        EXPECT_EQ(later.claim(url), SingleInstance::Role::Secondary);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() >= 2; }, 3000));
    for (const auto& arguments : received)
        messages << arguments[0].toString();
    EXPECT_EQ(messages, QStringList({"vantordashboard://local", ""}));
}

} // namespace
} // namespace vd::test
