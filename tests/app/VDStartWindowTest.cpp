#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include "app/AppSettings.h"
#include "app/VDRemoteProfiles.h"
#include "app/VDStartWindowController.h"
#include "app/WindowOpener.h"
#include "support/WidgetProbe.h"

using Log = std::vector<std::string>;
using vd::VDRemoteProfiles::names;
using vd::VDRemoteProfiles::profile;

namespace {

// A connect window on screen, with an opener and a close that write into one log, so that tests
// can see what was asked for and in which order.
class StartWindowFixture : public testing::Test {
protected:
    struct RecordingOpener : vd::WindowOpener {
        std::vector<std::string>& log;
        explicit RecordingOpener(std::vector<std::string>& into) : log(into) {}
        void createLocalWindow() override { log.push_back("local"); }
        void createRemoteWindowWithHost(const std::string& host, std::int64_t port, const std::string& password) override
        {
            log.push_back("remote " + host + ":" + std::to_string(port) + " " + password);
        }
        void createRemoteWindowWithUSBPort(std::int64_t port, const std::string& password) override
        {
            log.push_back("usb " + std::to_string(port) + " " + password);
        }
    };

    void SetUp() override
    {
        auto settings = vd::appSettings();
        settings->clear();
        vd::syncAppSettings(*settings);
    }

    // Separate from SetUp so that a test can store profiles before the window reads them.
    void openWindow()
    {
        controller = std::make_unique<vd::VDStartWindowController>(opener);
        controller->loadWindow();
        QObject::connect(controller.get(), &vd::VDWindowController::windowWillClose, [this] { log.push_back("close"); });
        controller->showWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
    }

    template <typename Widget = QWidget>
    Widget* control(const char* name) const
    {
        auto* found = controller->window()->findChild<Widget*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    void click(const char* name)
    {
        // Left of the middle: a radio option only takes clicks on its circle and its words.
        QWidget* target = control(name);
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(8, target->height() / 2));
    }

    void type(const char* field, const QString& text) { QTest::keyClicks(control<QLineEdit>(field), text); }

    bool enabled(const char* name) const { return control(name)->isEnabled(); }

    // The profile-name sheet now on screen, if any (closed ones wait for deletion).
    QDialog* sheet() const
    {
        for (QDialog* dialog : controller->window()->findChildren<QDialog*>("profileNameSheet"))
            if (dialog->isVisible())
                return dialog;
        return nullptr;
    }

    void answerSheet(const QString& name, const QString& button = "Save")
    {
        QDialog* open = sheet();
        ASSERT_NE(open, nullptr);
        open->findChild<QLineEdit*>("profileName")->setText(name);
        QTest::mouseClick(vd::test::buttonTitled(*open, button), Qt::LeftButton);
    }

    void fillRemote(const QString& host, const QString& port, const QString& password)
    {
        click("remoteButton");
        control<QLineEdit>("remoteHost")->setText(host);
        control<QLineEdit>("remotePort")->setText(port);
        control<QLineEdit>("remotePassword")->setText(password);
    }
    QString sheetText() const { return sheet()->findChild<QLabel*>("informativeText")->text(); }
    QStringList menu() const
    {
        QStringList items;
        auto* combo = control<QComboBox>("storedRemoteConnect");
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        return items;
    }

    std::vector<std::string> log;
    RecordingOpener opener{log};
    std::unique_ptr<vd::VDStartWindowController> controller;
};
using ProfilesTest = StartWindowFixture;

class StartWindowTest : public StartWindowFixture {
protected:
    void SetUp() override
    {
        StartWindowFixture::SetUp();
        openWindow();
    }

    QString message() const { return control<QLabel>("connectMessage")->text(); }
};

TEST_F(StartWindowTest, OpensOnTheLocalOptionWithOnlyConnectEnabledAndNoSavedProfileToConnectTo)
{
    EXPECT_TRUE(control<QAbstractButton>("localButton")->isChecked());
    EXPECT_TRUE(enabled("connectButton"));
    for (const char* off : {"remoteSegmentControl", "remoteHost", "remotePort", "remotePassword", "remoteSaveButton",
                            "usbPort", "usbPassword"})
        EXPECT_FALSE(enabled(off)) << off;
    EXPECT_EQ(control<QLineEdit>("remotePassword")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(control<QLineEdit>("usbPassword")->echoMode(), QLineEdit::Password);

    // The saved option without profiles cannot connect.
    click("remoteButton");
    EXPECT_TRUE(control("remoteView")->isVisible());
    click("remoteSegment1");
    EXPECT_FALSE(control("remoteView")->isVisible());
    EXPECT_TRUE(control("remoteStoreView")->isVisible());
    EXPECT_EQ(menu(), QStringList{"No Profile"});
    for (const char* off : {"storedRemoteConnect", "removeStoreButton", "connectButton"})
        EXPECT_FALSE(enabled(off)) << off;
}

// Connect, and Save for a typed remote service, come on with the last field the option needs
// and go off when one is emptied; back on the local option the other fields are locked.
TEST_F(StartWindowTest, ConnectWaitsForTheLastFieldTheOptionNeeds)
{
    struct Option {
        const char* button;
        std::vector<std::pair<const char*, const char*>> fields;
        const char* followsToo;
    };
    for (const Option& option : {Option{"remoteButton", {{"remoteHost", "10.0.0.2"}, {"remotePort", "6170"}, {"remotePassword", "s"}}, "remoteSaveButton"},
                                 Option{"usbButton", {{"usbPassword", "pw"}, {"usbPort", "6170"}}, "connectButton"}}) {
        SCOPED_TRACE(option.button);
        click(option.button);
        EXPECT_FALSE(control<QAbstractButton>("localButton")->isChecked());
        for (const auto& [field, text] : option.fields) {
            EXPECT_FALSE(enabled("connectButton") || enabled(option.followsToo)) << "before " << field;
            type(field, text);
        }
        EXPECT_TRUE(enabled("connectButton") && enabled(option.followsToo));
        control<QLineEdit>(option.fields[1].first)->clear();
        EXPECT_FALSE(enabled("connectButton") || enabled(option.followsToo));
    }
    click("localButton");
    EXPECT_TRUE(enabled("connectButton"));
    for (const char* locked : {"remoteHost", "usbPort"})
        EXPECT_FALSE(enabled(locked)) << locked;
}

// Return presses Connect from anywhere in the window, but only while Connect is on.
TEST_F(StartWindowTest, ReturnConnectsAskingForTheMainWindowBeforeClosing)
{
    controller->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(controller->window()));
    click("usbButton");
    QTest::keyClick(control("usbPort"), Qt::Key_Return);
    EXPECT_TRUE(log.empty());
    click("localButton");
    QTest::keyClick(control("localButton"), Qt::Key_Return);
    EXPECT_EQ(log, (Log{"local", "close"}));
    EXPECT_FALSE(controller->window()->isVisible());
}

// Ports as typed: a refused one keeps the window open with the reason; a port is the leading
// number of its text, and a text without one is refused even where 0 is a port. The window
// shares its ranges with the processor, whose tests walk every edge.
struct TypedPort {
    bool usb;
    const char* text;
    const char* opened; // what the opener was asked for; null when refused
};

class StartWindowPortTest : public StartWindowTest, public ::testing::WithParamInterface<TypedPort> {};

TEST_P(StartWindowPortTest, PortsOutsideTheirRangeAreRefusedInTheWindow)
{
    const auto [usb, text, opened] = GetParam();
    const char* field = usb ? "usbPort" : "remotePort";
    if (usb) {
        click("usbButton");
        type("usbPassword", "pw");
    } else {
        click("remoteButton");
        type("remoteHost", "box.lan");
        type("remotePassword", "secret");
    }
    control<QLineEdit>(field)->setText(text);
    click("connectButton");
    if (opened) {
        EXPECT_EQ(log, (Log{opened, "close"}));
        return;
    }
    EXPECT_EQ(message(), usb ? "The USB port must be a number from 0 to 65534." : "The port must be a number from 1 to 65535.");
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(controller->window()->isVisible());
    control<QLineEdit>(field)->setText("1");
    EXPECT_TRUE(message().isEmpty()) << "a change answers the refusal";
    click("cancelButton");
    EXPECT_EQ(log, (Log{"close"})) << "Cancel opens nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Edges, StartWindowPortTest,
    ::testing::Values(TypedPort{false, "0", nullptr}, TypedPort{false, "65536", nullptr},
                      TypedPort{false, "6170abc", "remote box.lan:6170 secret"},
                      TypedPort{true, "abc", nullptr}, TypedPort{true, "0", "usb 0 pw"},
                      TypedPort{true, "65535", nullptr}));

TEST_F(StartWindowTest, SavingStoresTheProfileOwnerOnlyUnderANewNonEmptyName)
{
    fillRemote("lab.example", "7000", "pa ss");
    click("remoteSaveButton");
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(sheet()->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet()->findChild<QLineEdit*>("profileName")->text(), "lab.example");
    EXPECT_TRUE(sheetText().isEmpty());
    answerSheet("lab");

    EXPECT_EQ(sheet(), nullptr);
    ASSERT_TRUE(profile("lab"));
    EXPECT_EQ(profile("lab")->host, "lab.example");
    EXPECT_EQ(profile("lab")->port, "7000");
    EXPECT_EQ(profile("lab")->password, "pa ss");
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(vd::appSettings()->fileName().toStdString()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);

    EXPECT_TRUE(control<QLineEdit>("remoteHost")->text().isEmpty());
    EXPECT_FALSE(enabled("remoteSaveButton"));
    EXPECT_FALSE(enabled("connectButton"));

    // An empty or taken name asks again, Close stores nothing, and another case is another name.
    fillRemote("new.host", "2", "b");
    click("remoteSaveButton");
    answerSheet("");
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(sheetText(), "Profile name could not be empty.");
    answerSheet("lab");
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(sheetText(), "Profile name duplicate, try another one.");
    EXPECT_EQ(profile("lab")->host, "lab.example");
    answerSheet("Lab", "Close");
    EXPECT_EQ(sheet(), nullptr);
    EXPECT_EQ(names(), QStringList{"lab"});
    EXPECT_EQ(control<QLineEdit>("remoteHost")->text(), "new.host");
    click("remoteSaveButton");
    answerSheet("Lab");
    EXPECT_EQ(names(), (QStringList{"Lab", "lab"}));
    EXPECT_EQ(profile("Lab")->host, "new.host");

    // The saved profile is what the saved mode connects to.
    click("remoteSegment1");
    control<QComboBox>("storedRemoteConnect")->setCurrentIndex(1);
    emit control<QComboBox>("storedRemoteConnect")->activated(1);
    EXPECT_EQ(menu(), (QStringList{"Lab", "lab"}));
    EXPECT_TRUE(enabled("connectButton"));
    click("connectButton");
    EXPECT_EQ(log, (Log{"remote lab.example:7000 pa ss", "close"}));
}

TEST_F(ProfilesTest, DeleteRemovesTheSelectedProfileAndTheFieldsFollowTheMenu)
{
    // A store that is not a mapping holds no profiles, and adding one starts a fresh mapping
    // rather than failing on the bad value.
    auto settings = vd::appSettings();
    settings->setValue("remotes", "not a mapping");
    vd::syncAppSettings(*settings);
    EXPECT_TRUE(names().isEmpty());
    vd::VDRemoteProfiles::add("alpha", {"a.host", "1", "pa"});
    vd::VDRemoteProfiles::add("beta", {"b.host", "2", "pb"});
    openWindow();
    click("remoteButton");
    click("remoteSegment1");
    EXPECT_EQ(menu(), (QStringList{"alpha", "beta"}));
    EXPECT_EQ(control<QLineEdit>("remoteHost")->text(), "a.host");

    auto* combo = control<QComboBox>("storedRemoteConnect");
    combo->setCurrentIndex(1);
    emit combo->activated(1);
    EXPECT_EQ(control<QLineEdit>("remoteHost")->text(), "b.host");

    click("removeStoreButton");
    EXPECT_EQ(names(), QStringList{"alpha"});
    EXPECT_EQ(menu(), QStringList{"alpha"});
    EXPECT_EQ(control<QLineEdit>("remoteHost")->text(), "a.host");

    click("removeStoreButton");
    EXPECT_EQ(menu(), QStringList{"No Profile"});
    EXPECT_FALSE(enabled("removeStoreButton"));
    EXPECT_FALSE(enabled("connectButton"));
}

} // namespace
