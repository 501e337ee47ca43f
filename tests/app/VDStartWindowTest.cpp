#include <utility>
#include <vector>

#include <QComboBox>
#include <QLabel>

#include "StartWindowFixture.h"

using Log = std::vector<std::string>;

namespace {

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
    EXPECT_EQ(controller->window()->windowTitle(), "Vantor New Dashboard");

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
    EXPECT_EQ(control<QComboBox>("storedRemoteConnect")->count(), 1);
    EXPECT_EQ(control<QComboBox>("storedRemoteConnect")->currentText(), "No Profile");
    for (const char* off : {"storedRemoteConnect", "removeStoreButton", "connectButton"})
        EXPECT_FALSE(enabled(off)) << off;
    click("remoteSegment0");
    EXPECT_TRUE(control("remoteView")->isVisible());
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

// The edges of both ranges, as typed: a refused port keeps the window open with the reason; a
// remote port is the leading number of its text.
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
}

INSTANTIATE_TEST_SUITE_P(
    Edges, StartWindowPortTest,
    ::testing::Values(TypedPort{false, "abc", nullptr}, TypedPort{false, "0", nullptr}, TypedPort{false, "-1", nullptr},
                      TypedPort{false, "1", "remote box.lan:1 secret"}, TypedPort{false, "6170abc", "remote box.lan:6170 secret"}, TypedPort{false, "65535", "remote box.lan:65535 secret"},
                      TypedPort{false, "65536", nullptr}, TypedPort{false, "99999999999999999999", nullptr},
                      TypedPort{true, "abc", nullptr}, TypedPort{true, "-1", nullptr}, TypedPort{true, "0", "usb 0 pw"},
                      TypedPort{true, "65534", "usb 65534 pw"}, TypedPort{true, "65535", nullptr}));

TEST_F(StartWindowTest, CancelClosesWithoutOpeningAnything)
{
    click("cancelButton");
    EXPECT_EQ(log, (Log{"close"}));
}

} // namespace
