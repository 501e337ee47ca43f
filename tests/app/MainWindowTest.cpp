#include "ShellFixture.h"
#include "app/VDFilterField.h"
#include "support/ServiceLogin.h"
#include "views/VDSegmentedControl.h"

namespace vd::test {
namespace {

class MainWindowTest : public ShellTest {
protected:
    static void click(VDMainWindowsController& window, int segment)
    {
        QTest::mouseClick(window.mainControl()->segment(segment), Qt::LeftButton);
    }
};

TEST_F(MainWindowTest, QuickConnectionShowsActiveConnectionsAndNoSheetAndTheFrameIsRemembered)
{
    auto window = remoteWindow();
    EXPECT_EQ(window->mainControl()->selectedSegment(), VDMainWindowsController::ActiveConnections);
    EXPECT_EQ(window->shownSection(), window->section(VDMainWindowsController::ActiveConnections));
    ASSERT_TRUE(waitFor([&] { return connected(*window); }));
    // The connecting check must find the link up and show nothing: a sheet that must not come
    // cannot be awaited, so this waits out the check's own delay.
    QTest::qWait(fastTiming().connectingCheck.count() + 100);
    EXPECT_EQ(sheetText(*window), "");

    // The window's frame is remembered for the next window.
    window->window()->resize(712, 453);
    window->window()->close();
    window.reset();
    EXPECT_EQ(remoteWindow()->window()->size(), QSize(712, 453));
}

// The service below logs a client in, or drops it, only when the test says so: until then the
// client's connection waits in the listener's backlog, unanswered.
TEST_F(MainWindowTest, ConnectingShowsUntilTheLinkIsUpOrLostAndAClosedWindowHearsNothingMore)
{
    RawPeer service(dir_ / "held.connect");
    const auto drop = [&] {
        ASSERT_TRUE(service.accept());
        service.closeConnection();
    };
    auto window = localWindow(service.path());
    ASSERT_TRUE(waitFor([&] { return sheetText(*window) == "Connecting..."; }));
    EXPECT_EQ(window->sheet()->windowModality(), Qt::WindowModal);
    // Lost while connecting, the link's end takes the sheet's place.
    drop();
    ASSERT_TRUE(waitFor([&] { return sheetText(*window) == "Connect Closed"; }));
    EXPECT_EQ(visibleDialogs(*window), 1);

    QTest::mouseClick(sheetButton(*window, "Reconnect"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return sheetText(*window) == "Connecting..."; }));
    acceptAndLogin(service);
    EXPECT_TRUE(waitFor([&] { return connected(*window) && sheetText(*window).isEmpty(); }));
    EXPECT_EQ(visibleDialogs(*window), 0);

    // Closed while connecting, the window hears nothing of the link's end.
    service.closeConnection();
    ASSERT_TRUE(waitFor([&] { return sheetText(*window) == "Connect Closed"; }));
    QTest::mouseClick(sheetButton(*window, "Reconnect"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return sheetText(*window) == "Connecting..."; }));
    const auto processer = processerOf(*window);
    QTest::mouseClick(sheetButton(*window, "Close"), Qt::LeftButton);
    EXPECT_FALSE(window->window()->isVisible());
    EXPECT_EQ(processer->connectStatus(), ConnectStatus::disconnected);
    drop();
    // A closed window offers nothing to await, so this gives a late report a short while to show.
    QTest::qWait(300);
    EXPECT_EQ(window->sheet(), nullptr);
    EXPECT_EQ(visibleDialogs(*window), 0);
    EXPECT_EQ(processer->connectStatus(), ConnectStatus::disconnected);
}

TEST_F(MainWindowTest, SectionsAreMadeOnceAndReconnectKeepsTheSectionAndTheFilter)
{
    auto window = remoteWindow();
    QWidget* active = window->shownSection();
    EXPECT_EQ(window->section(VDMainWindowsController::DNS), nullptr);
    ASSERT_TRUE(waitFor([&] { return connected(*window); }));
    click(*window, VDMainWindowsController::DNS);
    QWidget* dns = window->shownSection();
    ASSERT_NE(dns, active);
    click(*window, VDMainWindowsController::ActiveConnections);
    click(*window, VDMainWindowsController::DNS);
    EXPECT_EQ(window->shownSection(), dns);
    window->selectControl(4); // no such section: nothing changes
    EXPECT_EQ(window->shownSection(), dns);
    QTest::keyClicks(window->searchField(), "api");
    ASSERT_TRUE(waitFor([&] { return processerOf(*window)->filterString() == "api"; }));
    const auto processer = processerOf(*window);

    sim_.closeAllConnections();
    ASSERT_TRUE(waitFor([&] { return sheetText(*window) == "Connect Closed"; }));
    QTest::mouseClick(sheetButton(*window, "Reconnect"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return connected(*window) && sheetText(*window).isEmpty(); }));

    EXPECT_EQ(processerOf(*window), processer) << "the same processor reconnects";
    EXPECT_EQ(window->shownSection(), dns);
    EXPECT_EQ(window->mainControl()->selectedSegment(), VDMainWindowsController::DNS);
    EXPECT_EQ(window->searchField()->text(), "api");
    EXPECT_EQ(processer->filterString(), "api");
}

TEST_F(MainWindowTest, FilterFieldAndProcessorFollowEachOtherPerWindow)
{
    auto a = localWindow(dir_ / "db.connect");
    auto b = remoteWindow();
    auto* fieldA = a->searchField();
    auto* fieldB = b->searchField();
    const auto processerA = processerOf(*a);
    const auto processerB = processerOf(*b);

    // Typing is handed on once it pauses.
    QTest::keyClicks(fieldA, "abc");
    EXPECT_EQ(processerA->filterString(), "");
    ASSERT_TRUE(waitFor([&] { return processerA->filterString() == "abc"; }));
    EXPECT_EQ(processerB->filterString(), "");
    EXPECT_EQ(fieldB->text(), "");

    // A view of window B sets its filter: B's field follows, A keeps its own.
    processerB->setFilterString("host.example");
    EXPECT_EQ(fieldB->text(), "host.example");
    EXPECT_EQ(fieldA->text(), "abc");

    // Emptying the field clears the filter at once.
    fieldA->selectAll();
    QTest::keyClick(fieldA, Qt::Key_Backspace);
    EXPECT_EQ(processerA->filterString(), "");

    // Text still being typed is not overwritten by another window's change.
    fieldB->selectAll();
    QTest::keyClicks(fieldB, "x");
    processerA->setFilterString("zzz");
    EXPECT_EQ(fieldB->text(), "x");
    EXPECT_EQ(fieldA->text(), "zzz");
    ASSERT_TRUE(waitFor([&] { return processerB->filterString() == "x"; }));
}

} // namespace
} // namespace vd::test
