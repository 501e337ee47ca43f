#include <algorithm>
#include <map>

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QScrollBar>
#include <QToolButton>

#include "ShellFixture.h"
#include "support/IdsOf.h"
#include "app/WindowOverview.h"
#include "views/VDBaseSectionViewController.h"
#include "views/VDListPause.h"
#include "views/VDQuantityTexts.h"
#include "views/VDRecTunListViewController.h"
#include "views/VDCurTunListViewController.h"
#include "views/VDStatusFigures.h"
#include "views/VDTunnelColumns.h"
#include "views/VDTopTalkersList.h"
#include "views/VDTrafficChart.h"
#include "views/VDTrafficPanel.h"
#include "views/VDTunnelTableModel.h"

namespace vd::test {
namespace {

class OverviewTest : public ShellTest {
protected:
    std::unique_ptr<VDMainWindowsController> connectedWindow(int segment)
    {
        auto window = remoteWindow();
        window->addViewMenu(*static_cast<QMainWindow*>(window->window())->menuBar());
        EXPECT_TRUE(waitFor([&] { return connected(*window); }));
        // Five reports a second, and recent records every second.
        processerOf(*window)->setTimerSettings({Seconds{0.1}, Seconds{0.2}, Seconds{0.02}, Seconds{0.05}});
        processerOf(*window)->startTimer();
        window->selectControl(segment);
        return window;
    }
    static QString figure(const VDMainWindowsController& window, const char* name)
    {
        const auto* label = window.overview()->figures()->findChild<QLabel*>(name);
        return label && label->isVisibleTo(window.window()) ? label->text() : QString();
    }
    template <typename List>
    static List* listIn(const VDMainWindowsController& window, int segment)
    {
        return window.section(segment)->findChild<List*>();
    }
};

// Reports keep arriving while paused; the rows and the figures of the lists stay as they were,
// the held reports are counted, and resuming shows the processor's lists at once.
TEST_F(OverviewTest, PauseHoldsTheRowsWhileReportsArriveAndResumeCatchesUp)
{
    auto window = connectedWindow(VDMainWindowsController::ActiveConnections);
    auto* list = listIn<VDCurTunListViewController>(*window, VDMainWindowsController::ActiveConnections);
    const auto processer = processerOf(*window);
    ASSERT_TRUE(waitFor([&] { return !list->mainArray().empty(); }, 10000));

    QTest::keyClick(window->window(), Qt::Key_P, Qt::ControlModifier);
    ASSERT_TRUE(window->overview()->pause()->isPaused());
    EXPECT_TRUE(window->overview()->figures()->pauseSwitch()->isChecked());
    const auto held = idsOf(list->mainArray());
    const QString active = figure(*window, "activeFigure");
    const std::uint64_t pausedAt = processer->activeReportCount();
    ASSERT_TRUE(waitFor([&] { return processer->activeReportCount() >= pausedAt + 3; }, 10000));
    QTest::qWait(50);
    EXPECT_EQ(idsOf(list->mainArray()), held);
    EXPECT_EQ(figure(*window, "activeFigure"), active);
    EXPECT_TRUE(figure(*window, "heldFigure").startsWith("Paused: ")) << figure(*window, "heldFigure").toStdString();
    EXPECT_NE(idsOf(processer->currentTunnelInfos()), held) << "the simulator's connections did not change";

    QTest::mouseClick(window->overview()->figures()->pauseSwitch(), Qt::LeftButton);
    EXPECT_FALSE(window->overview()->pause()->isPaused());
    EXPECT_FALSE(window->overview()->pauseAction()->isChecked());
    EXPECT_TRUE(waitFor([&] { return idsOf(list->mainArray()) != held; }, 1000));
    EXPECT_EQ(figure(*window, "heldFigure"), "");
}

// A record open while paused stays selected and shown after its connection closed; resuming
// lets it go as any reload does.
TEST_F(OverviewTest, AnOpenRecordStaysWhilePausedEvenWhenItsConnectionCloses)
{
    auto window = connectedWindow(VDMainWindowsController::ActiveConnections);
    auto* list = listIn<VDCurTunListViewController>(*window, VDMainWindowsController::ActiveConnections);
    const auto processer = processerOf(*window);
    ASSERT_TRUE(waitFor([&] { return !list->mainArray().empty(); }, 10000));
    list->tableView()->selectRow(0);
    const std::int64_t open = list->detailTunnelInfoId();
    ASSERT_NE(open, -1);

    window->overview()->pauseAction()->trigger();
    const auto listed = [&] {
        const auto ids = idsOf(processer->currentTunnelInfos());
        return std::find(ids.begin(), ids.end(), open) != ids.end();
    };
    ASSERT_TRUE(waitFor([&] { return !listed(); }, 30000)) << "the connection never closed";
    QTest::qWait(300);
    EXPECT_EQ(list->detailTunnelInfoId(), open);
    EXPECT_EQ(list->model()->recordAt(list->tableView()->currentIndex().row())->id_(), open);

    window->overview()->pauseAction()->trigger();
    EXPECT_TRUE(waitFor([&] { return list->detailTunnelInfoId() == -1; }, 2000));
}

// The status bar's figures describe the rows shown: their count, the sums of their speeds.
TEST_F(OverviewTest, TheFiguresAreTheSumsOfTheShownRows)
{
    auto window = connectedWindow(VDMainWindowsController::ActiveConnections);
    auto* list = listIn<VDCurTunListViewController>(*window, VDMainWindowsController::ActiveConnections);
    const auto matches = [&] {
        const TunnelList& rows = list->mainArray();
        std::int64_t up = 0, down = 0;
        for (const auto& row : rows) {
            up += row->tx_speed();
            down += row->rx_speed();
        }
        const QString count = QLocale().toString(static_cast<qulonglong>(rows.size()));
        return !rows.empty() && figure(*window, "activeFigure") == count + " active" &&
               figure(*window, "speedFigure") == QString("\u2191 %1  \u2193 %2").arg(speedText(up), speedText(down)) &&
               figure(*window, "rowsFigure") == QString("%1 of %1 rows").arg(count);
    };
    EXPECT_TRUE(waitFor(matches, 10000)) << figure(*window, "activeFigure").toStdString() << " / "
                                         << figure(*window, "rowsFigure").toStdString();

    // Every tunnel's bytes once: the active ones as they stand, the closed ones as they ended.
    const auto totalsMatch = [&] {
        const auto processer = processerOf(*window);
        std::map<std::int64_t, std::pair<std::int64_t, std::int64_t>> bytes;
        for (const auto& row : processer->recentTunnelInfos())
            bytes[row->id_()] = {row->tx(), row->rx()};
        for (const auto& row : processer->currentTunnelInfos())
            bytes[row->id_()] = {row->tx(), row->rx()};
        std::int64_t sent = 0, received = 0;
        for (const auto& [id, moved] : bytes) {
            sent += moved.first;
            received += moved.second;
        }
        return sent > 0 && figure(*window, "totalsFigure") == QString("Sent %1 · Received %2").arg(sizeText(sent), sizeText(received));
    };
    EXPECT_TRUE(waitFor(totalsMatch, 10000)) << figure(*window, "totalsFigure").toStdString();

    // A filter shows fewer rows of the same list.
    processerOf(*window)->setFilterString("no host is called this");
    EXPECT_TRUE(waitFor([&] { return figure(*window, "rowsFigure").startsWith("0 of "); }));
}

// Recent Requests by id, newest last: at the newest end the list follows the arriving rows;
// scrolled away it keeps its place; back at the end it follows again.
TEST_F(OverviewTest, FollowingTheNewestRowsStopsWhenScrolledAwayAndResumesAtTheEnd)
{
    auto window = connectedWindow(VDMainWindowsController::RecentRequests);
    auto* list = listIn<VDRecTunListViewController>(*window, VDMainWindowsController::RecentRequests);
    QTableView* table = list->tableView();
    table->sortByColumn(VDTunnelColumns::kId, Qt::AscendingOrder);
    QScrollBar* bar = table->verticalScrollBar();
    ASSERT_TRUE(waitFor([&] { return bar->maximum() > 20; }, 20000));

    const auto lastRowVisible = [&] {
        const int last = list->model()->rowCount() - 1;
        return table->visualRect(list->model()->index(last, 0)).intersects(table->viewport()->rect());
    };
    bar->setValue(bar->maximum());
    std::size_t rows = list->mainArray().size();
    ASSERT_TRUE(waitFor([&] { return list->mainArray().size() > rows; }, 10000));
    EXPECT_TRUE(lastRowVisible()) << "following stopped";

    bar->setValue(bar->maximum() / 2);
    const QModelIndex top = table->indexAt(QPoint(1, 1));
    const std::int64_t topId = list->model()->recordAt(top.row())->id_();
    rows = list->mainArray().size();
    ASSERT_TRUE(waitFor([&] { return list->mainArray().size() > rows; }, 10000));
    EXPECT_EQ(list->model()->recordAt(table->indexAt(QPoint(1, 1)).row())->id_(), topId) << "the rows moved under the reader";
    EXPECT_FALSE(lastRowVisible());

    bar->setValue(bar->maximum());
    rows = list->mainArray().size();
    ASSERT_TRUE(waitFor([&] { return list->mainArray().size() > rows; }, 10000));
    EXPECT_TRUE(lastRowVisible()) << "following did not start again at the end";
}

// The Traffic panel is remembered as shown, draws the window's reports, and its stacks choose a
// client for the Active Connections sidebar or a host for the filter.
TEST_F(OverviewTest, TheTrafficPanelIsRememberedAndItsStacksChooseTheClientOrTheHost)
{
    auto window = connectedWindow(VDMainWindowsController::RecentRequests);
    QAction* traffic = window->overview()->trafficAction();
    VDTrafficPanel* panel = window->overview()->trafficPanel();
    EXPECT_FALSE(panel->isVisible());
    traffic->trigger();
    ASSERT_TRUE(panel->isVisible());
    ASSERT_TRUE(waitFor([&] {
        return panel->chart()->history().size() >= 3 && !panel->topClients()->talkers().rows().empty() &&
               !panel->topHosts()->talkers().rows().empty();
    }, 10000));

    const VDTopTalkersModel::Row host = panel->topHosts()->talkers().rows().front();
    panel->topHosts()->setFocus();
    panel->topHosts()->setCurrentIndex(panel->topHosts()->model()->index(0, 0));
    QTest::keyClick(panel->topHosts(), Qt::Key_Return);
    EXPECT_EQ(processerOf(*window)->filterString(), host.name.toStdString());
    processerOf(*window)->setFilterString("");

    const VDTopTalkersModel::Row client = panel->topClients()->talkers().rows().front();
    panel->topClients()->setFocus();
    panel->topClients()->setCurrentIndex(panel->topClients()->model()->index(0, 0));
    QTest::keyClick(panel->topClients(), Qt::Key_Return);
    EXPECT_EQ(window->shownSection(), window->section(VDMainWindowsController::ActiveConnections));
    const auto* sidebar = window->section(VDMainWindowsController::ActiveConnections)->findChild<VDBaseSectionViewController*>();
    const VDProcessInfo* chosen = sidebar->selectedProcess();
    ASSERT_NE(chosen, nullptr);
    const std::string key = client.name.toStdString();
    // The client may have left the active list since: then all clients are shown.
    EXPECT_TRUE(chosen->bundleIdentifier == key || chosen->fromHost == key || chosen->bundleIdentifier == "-1")
        << chosen->bundleIdentifier << " / " << chosen->fromHost << " for " << key;

    // A window opened next shows the panel as this one left it.
    window->window()->close();
    window.reset();
    EXPECT_TRUE(connectedWindow(VDMainWindowsController::ActiveConnections)->overview()->trafficPanel()->isVisible());
    makeWindow(WindowId::local())->overview()->trafficAction()->trigger();
    EXPECT_FALSE(makeWindow(WindowId::local())->overview()->trafficPanel()->isVisible());
}

} // namespace
} // namespace vd::test
