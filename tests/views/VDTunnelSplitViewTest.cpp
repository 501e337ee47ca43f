#include <algorithm>

#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QToolButton>

#include "WindowFixtures.h"
#include "app/ShellFixture.h"
#include "views/VDBaseToolViewController.h"
#include "views/VDBaseTunnelListViewController.h"
#include "views/VDCurTunViewController.h"
#include "views/VDRecTunViewController.h"
#include "views/VDToggleButton.h"
#include "views/VDTunnelDetailViewController.h"
#include "views/VDUserDefaults.h"

namespace vd::test {
namespace {

// Sections of a window connected to the simulated service over its local socket.
class TunnelSplitViewTest : public RecordListServiceFixture {
protected:
    TunnelSplitViewTest() : RecordListServiceFixture(50ms) {}
    void SetUp() override
    {
        RecordListServiceFixture::SetUp();
        // Logged in and told the service's switches.
        ASSERT_TRUE(waitFor([&] { return processer->initTime() != 0; }));
    }
    static bool waitFor(const std::function<bool()>& predicate) { return QTest::qWaitFor(predicate, 5000); }
    // The switch commands (10 recording, 11 MitM) the service received, as "t:switch".
    std::vector<std::string> switchCommands()
    {
        std::vector<std::string> commands;
        for (const auto& packet : sim_.received()) {
            const auto cmd = packet.value("t", 0);
            if (cmd == 10 || cmd == 11)
                commands.push_back(std::to_string(cmd) + ":" + packet["d"]["switch"].dump());
        }
        return commands;
    }
    static QPushButton* button(VDBaseTunViewController& section, const QString& title)
    {
        return buttonTitled<QPushButton>(*section.tableVC()->toolViewController(), title);
    }
    static void showAgain(QWidget& section)
    {
        section.hide();
        section.show();
    }
    // Selects the first row once the list has one; the id of its record.
    static std::int64_t selectFirstRow(VDBaseTunViewController& section)
    {
        auto* list = section.tableVC()->listViewController();
        EXPECT_TRUE(waitFor([&] { return !list->mainArray().empty(); }));
        list->tableView()->selectRow(0);
        return list->detailTunnelInfoId();
    }
    static bool paneOpen(VDBaseTunViewController& section)
    {
        return section.tableVC()->isDetailOpen() && section.tableVC()->toolViewController()->collapseButton()->isVisible();
    }

};

TEST_F(TunnelSplitViewTest, StripsHoldTheirButtonsInOrderAndTheSwitchesFollowTheUserAndTheService)
{
    const auto trafficTitle = [](bool on) { return on ? "Disable Traffic Recroder" : "Enable Traffic Recorder"; };
    const auto mitmTitle = [](bool on) { return on ? "Disable MitM" : "Enable MitM"; };
    VDRecTunViewController recent(idString);
    recent.show();
    QStringList titles;
    for (auto* b : recent.tableVC()->toolViewController()->findChildren<QPushButton*>())
        titles << b->text();
    EXPECT_EQ(titles, QStringList({"Clean", "Reload", trafficTitle(processer->recorderEnabled()),
                                   mitmTitle(processer->mitmEnabled())}));
    recent.hide();

    // The switches send the asked state, and are read again when the strip shows or the service
    // logs in.
    VDCurTunViewController section(idString);
    section.show();
    EXPECT_EQ(button(section, "Clean"), nullptr);
    auto* strip = section.tableVC()->toolViewController();
    const bool recording = processer->recorderEnabled();
    const bool mitm = processer->mitmEnabled();

    QTest::mouseClick(strip->trafficButton(), Qt::LeftButton);
    EXPECT_EQ(strip->trafficButton()->text(), trafficTitle(!recording));
    QTest::mouseClick(strip->mitmButton(), Qt::LeftButton);
    EXPECT_EQ(strip->mitmButton()->text(), mitmTitle(!mitm));
    ASSERT_TRUE(waitFor([&] { return processer->recorderEnabled() != recording && processer->mitmEnabled() != mitm; }));
    const auto flag = [](bool on) { return on ? std::string("true") : std::string("false"); };
    EXPECT_EQ(switchCommands(), std::vector<std::string>({"10:" + flag(!recording), "11:" + flag(!mitm)}));

    // With the link down the command goes nowhere: the button shows the asked-for state only
    // until the strip is shown again, then what the processor knows.
    processer->disconnect();
    const auto sent = switchCommands().size();
    QTest::mouseClick(strip->mitmButton(), Qt::LeftButton);
    EXPECT_EQ(strip->mitmButton()->text(), mitmTitle(mitm));
    showAgain(section);
    EXPECT_EQ(strip->mitmButton()->text(), mitmTitle(!mitm));
    EXPECT_EQ(strip->trafficButton()->text(), trafficTitle(!recording));
    EXPECT_EQ(switchCommands().size(), sent);

    // Asked for again with the link down, the title holds the asked-for state until the service,
    // after the next login, says how its switches stand; the strip stays on screen all along.
    QTest::mouseClick(strip->mitmButton(), Qt::LeftButton);
    ASSERT_EQ(strip->mitmButton()->text(), mitmTitle(mitm));
    processer->connectToSocketPath((dir_ / "db.connect").string());
    EXPECT_TRUE(waitFor([&] { return processer->connectStatus() == ConnectStatus::connected && strip->mitmButton()->text() == (mitmTitle(!mitm)); }));
}

TEST_F(TunnelSplitViewTest, SelectingOpensThePaneWhichTheCollapseButtonAndAKilledConnectionFold)
{
    VDCurTunViewController section(idString);
    section.resize(1100, 700);
    section.show();
    auto* table = section.tableVC();
    EXPECT_FALSE(table->isDetailOpen());

    const std::int64_t id = selectFirstRow(section);
    ASSERT_NE(id, -1);
    EXPECT_TRUE(paneOpen(section));
    ASSERT_NE(table->detailViewController()->tunnelInfo(), nullptr);
    EXPECT_EQ(table->detailViewController()->tunnelInfo()->id_(), id);
    EXPECT_GE(table->detailViewController()->height(), VDBaseTunnelViewController::kDetailMinimumHeight);

    QTest::mouseClick(table->toolViewController()->collapseButton(), Qt::LeftButton);
    EXPECT_FALSE(table->isDetailOpen());
    EXPECT_FALSE(table->toolViewController()->collapseButton()->isVisible());
    // Deselected, the list keeps the pane folded through reloads, as the list's own cases show.
    EXPECT_TRUE(table->listViewController()->tableView()->selectionModel()->selectedRows().isEmpty());

    const std::int64_t chosen = selectFirstRow(section);
    EXPECT_TRUE(paneOpen(section));

    // Kill asks the service to close the chosen connection; the service ends it, and the pane
    // folds once it has left the list.
    table->listViewController()->killTunnel();
    ASSERT_TRUE(waitFor([&] { return !commands(contract::Command::closeTunnel).empty(); }));
    EXPECT_EQ(commands(contract::Command::closeTunnel).front()["d"]["tunnel_id"], chosen);
    EXPECT_TRUE(waitFor([&] { return !table->isDetailOpen(); }));
}

TEST_F(TunnelSplitViewTest, CleanEmptiesTheRecentListAndTheOpenPaneFoldsOnTheReload)
{
    VDRecTunViewController section(idString);
    section.resize(1100, 700);
    section.show();
    // Coming on screen asks the service for its recent records.
    ASSERT_NE(selectFirstRow(section), -1);
    ASSERT_TRUE(paneOpen(section));

    QTest::mouseClick(button(section, "Clean"), Qt::LeftButton);
    EXPECT_TRUE(processer->recentTunnelInfos().empty());
    ASSERT_TRUE(waitFor([&] { return !section.tableVC()->isDetailOpen(); }));
    EXPECT_EQ(section.tableVC()->listViewController()->detailTunnelInfoId(), -1);

    // "Reload" asks again from the last record held before the clean, and so does coming on screen
    // again; the timer's polls ask in another form.
    const auto asksAgain = [&](const std::function<void()>& act) {
        const auto reloads = [&] {
            return std::ranges::count_if(commands(contract::Command::historyTunnels), [](const auto& sent) {
                return sent.contains("d") && sent["d"].value("cmd", "") == "from_count";
            });
        };
        const auto asked = reloads();
        act();
        return waitFor([&] { return reloads() > asked; });
    };
    EXPECT_TRUE(asksAgain([&] { QTest::mouseClick(button(section, "Reload"), Qt::LeftButton); }));
    EXPECT_TRUE(asksAgain([&] { showAgain(section); }));
}

// Drags a divider of `splitter` by `delta` pixels, as the user does.
void dragHandle(QSplitter& splitter, int handle, QPoint delta)
{
    QSplitterHandle* grip = splitter.handle(handle);
    const QPoint from = grip->rect().center();
    QTest::mousePress(grip, Qt::LeftButton, {}, from);
    QTest::mouseMove(grip, from + delta);
    QTest::mouseRelease(grip, Qt::LeftButton, {}, from + delta);
}

TEST_F(TunnelSplitViewTest, PaneSizesAreRememberedUnderTheSplitViewsNames)
{
    std::unique_ptr<QSettings> settings = userDefaults();
    settings->remove("com.lumenforge.vantordashboard.currenttunnel.splitview");
    settings->remove("test.test.test");
    settings.reset();
    QList<int> sidebarSizes;
    QList<int> paneSizes;
    {
        VDCurTunViewController current(idString);
        current.resize(1200, 800);
        current.show();
        EXPECT_EQ(current.splitView()->sizes().first(), VDBaseTunViewController::kSidebarMinimumWidth);
        dragHandle(*current.splitView(), 1, {60, 0});
        sidebarSizes = current.splitView()->sizes();
        EXPECT_GT(sidebarSizes.first(), VDBaseTunViewController::kSidebarMinimumWidth + 40);

        selectFirstRow(current);
        QSplitter& inner = *current.tableVC()->splitView();
        QTest::qWait(0);
        dragHandle(inner, 2, {0, -80});
        paneSizes = inner.sizes();
        EXPECT_GT(paneSizes.last(), VDBaseTunnelViewController::kDetailMinimumHeight + 60);
    }
    settings = userDefaults();
    EXPECT_TRUE(settings->contains("com.lumenforge.vantordashboard.currenttunnel.splitview"));
    EXPECT_TRUE(settings->contains("test.test.test"));

    VDCurTunViewController again(idString);
    again.resize(1200, 800);
    again.show();
    EXPECT_EQ(again.splitView()->sizes(), sidebarSizes);
    // The other section opens its pane on the same layout: both inner split views share a name.
    VDRecTunViewController recent(idString);
    recent.resize(1200, 800);
    recent.show();
    EXPECT_NE(recent.splitView()->sizes(), sidebarSizes);
    selectFirstRow(recent);
    QTest::qWait(0);
    EXPECT_EQ(recent.tableVC()->splitView()->sizes(), paneSizes);
}

} // namespace
} // namespace vd::test
