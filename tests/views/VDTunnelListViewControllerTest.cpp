#include <numeric>
#include <thread>

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>

#include "WindowFixtures.h"
#include "support/WidgetProbe.h"
#include "app/ShellFixture.h"
#include "data/VDNotifications.h"
#include "platform/NotificationCenter.h"
#include "views/VDCurTunListViewController.h"
#include "views/VDRecTunListViewController.h"

namespace vd {
namespace {

using contract::Command;
using test::records;
using Ids = std::vector<std::int64_t>;
using col = VDTunnelColumns;

class CurrentListTest : public test::ListFixture<VDCurTunListViewController> {
protected:
    void SetUp() override
    {
        list.show();
        report(Command::currentTunnels, records({1, 2, 3, 4, 5}));
        ASSERT_EQ(shownIds(), (Ids{1, 2, 3, 4, 5}));
        delegate.calls.clear();
    }
    void rightClick(std::int64_t id)
    {
        const QRect cell = list.tableView()->visualRect(list.model()->index(list.model()->rowOfKey(id), col::kServer));
        emit list.tableView()->customContextMenuRequested(cell.center());
    }
    QAction* menuItem(const QString& text) const { return test::menuItem(*list.contextMenu(), text); }
    QStringList menuTexts() const { return test::menuTexts(*list.contextMenu()); }
};

// Off screen the list holds no records; shown again it catches up, with the selection made
// before it went and without opening the pane again.
TEST_F(CurrentListTest, OffScreenTheListHoldsNothingAndComesBackWithItsSelection)
{
    select(3);
    const std::weak_ptr<const VDTunnelInfo> shownBefore = list.model()->recordAt(0);
    list.hide();
    EXPECT_FALSE(list.viewAppeared());
    EXPECT_EQ(shownIds(), Ids{});
    EXPECT_EQ(list.detailTunnelInfoId(), 3);
    report(Command::currentTunnels, records({7, 8, 3}));
    EXPECT_EQ(shownIds(), Ids{});
    // Only the processor held the old report; the hidden list kept nothing of it alive.
    EXPECT_TRUE(shownBefore.expired());
    list.show();
    EXPECT_EQ(shownIds(), (Ids{7, 8, 3}));
    EXPECT_EQ(selectedId(), 3);
    EXPECT_EQ(delegate.calls, (std::vector<std::string>{"open 3", "update 3"}));

    // A record that left while the list was off screen closes the pane once it is back.
    list.hide();
    report(Command::currentTunnels, records({1, 2}));
    list.show();
    EXPECT_EQ(list.detailTunnelInfoId(), -1);
    EXPECT_EQ(delegate.calls.back(), "collapse");
}

TEST_F(CurrentListTest, TheSelectedRecordStaysSelectedAndShownWhileReloadsMoveItUntilItLeaves)
{
    select(3);
    EXPECT_EQ(delegate.calls, std::vector<std::string>{"open 3"});
    // The pane gets the new report's copy of the record, the highlighted row is that record.
    report(Command::currentTunnels, records({5, 9, 3, 1, 2, 4}));
    EXPECT_EQ(delegate.calls.back(), "update 3");
    EXPECT_EQ(delegate.shown, list.model()->recordAt(selectedRow()));

    // The pane folds on the reload after its record left or the selection was cleared, and a
    // record that comes back is not opened again.
    list.tableView()->clearSelection();
    EXPECT_EQ(list.detailTunnelInfoId(), -1);
    report(Command::currentTunnels, records({1, 2, 3, 4, 5}));
    EXPECT_EQ(delegate.calls.back(), "collapse");
    select(4);
    report(Command::currentTunnels, records({1, 2, 3, 5}));
    EXPECT_EQ(delegate.calls.back(), "collapse");
    EXPECT_EQ(selectedRow(), -1);
    report(Command::currentTunnels, records({4, 1, 2}));
    EXPECT_EQ(selectedRow(), -1);
    EXPECT_EQ(std::count(delegate.calls.begin(), delegate.calls.end(), "open 4"), 1);
}

TEST_F(CurrentListTest, ScrolledAwayFromTheSelectionReloadsAndSortsKeepTheTopRecordAndTheSelection)
{
    QSignalSpy resets(list.model(), &QAbstractItemModel::modelAboutToBeReset);
    Ids ids(300);
    std::iota(ids.begin(), ids.end(), 1);
    report(Command::currentTunnels, records(ids));
    select(5);
    auto* table = list.tableView();
    table->scrollTo(list.model()->index(list.model()->rowOfKey(120), 0), QAbstractItemView::PositionAtTop);
    // Part of the top row is scrolled out of sight; that part stays out of sight.
    table->verticalScrollBar()->setValue(table->verticalScrollBar()->value() + 7);
    const auto topId = [&] { return list.model()->recordAt(table->rowAt(0))->id_(); };
    const auto topOffset = [&] { return table->rowViewportPosition(table->rowAt(0)); };
    ASSERT_EQ(topId(), 120);
    ASSERT_EQ(topOffset(), -7);
    const auto currentId = [&] { return list.model()->recordAt(table->currentIndex().row())->id_(); };
    ASSERT_EQ(currentId(), 5);

    // Reversed, ten records gone and ten new ones: every row moves.
    Ids next(ids.rbegin(), ids.rend());
    std::erase_if(next, [](std::int64_t id) { return id >= 50 && id < 60; });
    for (std::int64_t id = 301; id <= 310; ++id)
        next.insert(next.begin() + id % 7 * 20, id);
    report(Command::currentTunnels, records(next));
    ASSERT_EQ(shownIds(), next);
    EXPECT_EQ(topId(), 120);
    EXPECT_EQ(topOffset(), -7);
    EXPECT_EQ(selectedId(), 5);
    EXPECT_EQ(currentId(), 5);

    // A header click moves the rows too.
    table->horizontalHeader()->setSortIndicator(col::kServer, Qt::AscendingOrder);
    EXPECT_NE(shownIds(), next);
    EXPECT_EQ(topId(), 120);
    EXPECT_EQ(selectedId(), 5);
    EXPECT_EQ(std::count(delegate.calls.begin(), delegate.calls.end(), "open 5"), 1);
    EXPECT_EQ(resets.count(), 0);

    // Off screen the rows are let go; shown again, filtered, with new copies of the same records,
    // the list comes back at the same record.
    filter("example");
    list.hide();
    report(Command::currentTunnels, records(next));
    list.show();
    EXPECT_EQ(topId(), 120);
}

TEST_F(CurrentListTest, HeaderOrderIsKeptAcrossReloadsAndFilterTextAndClientComeFromTheProcessor)
{
    auto* header = list.tableView()->horizontalHeader();
    header->setSortIndicator(col::kId, Qt::DescendingOrder);
    EXPECT_EQ(shownIds(), (Ids{5, 4, 3, 2, 1}));
    report(Command::currentTunnels, records({2, 7, 1}));
    EXPECT_EQ(shownIds(), (Ids{7, 2, 1}));
    header->setSortIndicator(col::kStatus, Qt::AscendingOrder);
    EXPECT_EQ(shownIds(), (Ids{7, 2, 1}));
    EXPECT_EQ(header->sortIndicatorSection(), col::kId);
    EXPECT_EQ(list.sortDescriptors().size(), 1u);

    // The filter text and the client come from the processor; how hosts match is the filter's.
    report(Command::currentTunnels, {{.id = 1, .host = "a.org", .bundleId = "com.a"},
                                     {.id = 2, .host = "b.net", .bundleId = "com.b"},
                                     {.id = 3, .host = "c.org", .bundleId = "com.b"}});
    header->setSortIndicator(col::kId, Qt::AscendingOrder);
    filter("org");
    EXPECT_EQ(shownIds(), (Ids{1, 3}));
    processer->setCurrentFilterBundleId("com.b");
    NotificationCenter::defaultCenter()->post(kVDCurrentTunnelRefreshed);
    settle();
    EXPECT_EQ(shownIds(), Ids{3});
    filter("");
    EXPECT_EQ(shownIds(), (Ids{2, 3}));
}

TEST_F(CurrentListTest, ContextMenuOffersKillForActiveRecordsAndActsOnTheRecordItWasOpenedFor)
{
    // Without a selection, setting the filter and killing do nothing.
    list.setFilterString();
    list.killTunnel();
    EXPECT_EQ(processer->filterString(), "");

    rightClick(4);
    EXPECT_EQ(selectedId(), 4);
    EXPECT_EQ(delegate.calls, std::vector<std::string>{"open 4"});
    EXPECT_EQ(menuTexts(), QStringList({"Kill Connection", "-", "Copy curl Command", "Copy URL", "Copy Request Headers",
                                        "Copy Response Headers", "-", "Set Filter to host4.example"}));
    // No HTTP exchange: nothing to copy.
    for (const char* copy : {"Copy curl Command", "Copy URL", "Copy Request Headers", "Copy Response Headers"})
        EXPECT_FALSE(menuItem(copy)->isEnabled()) << copy;
    EXPECT_TRUE(menuItem("Kill Connection")->isEnabled());
    list.contextMenu()->close();

    rightClick(3);
    EXPECT_EQ(menuTexts().first(), "Copy curl Command");
    // Rows move under the open menu; its item still names the record it was opened for.
    report(Command::currentTunnels, records({5, 1, 3}));
    menuItem("Set Filter to host3.example")->trigger();
    EXPECT_EQ(processer->filterString(), "host3.example");
    settle();
    EXPECT_EQ(shownIds(), Ids{3});
    list.contextMenu()->close();
}

// A record that carried HTTP copies its URL, its header blocks and a curl command, from the menu
// and, for curl, by its key while the list has focus.
TEST_F(CurrentListTest, HttpRecordsCopyTheirRequestAsCurlUrlAndHeaders)
{
    const std::string request = "PUT /items/7?x=1 HTTP/1.1\r\nHost: api.example\r\nX-Q: it's\r\n\r\n";
    report(Command::currentTunnels, {{.id = 6, .host = "api.example", .port = 80, .type = 1, .requestHead = request,
                                      .responseHead = "HTTP/1.1 404 Not Found\r\n\r\n"}});
    auto* clipboard = QGuiApplication::clipboard();
    rightClick(6);
    menuItem("Copy URL")->trigger();
    EXPECT_EQ(clipboard->text(), "http://api.example/items/7?x=1");
    menuItem("Copy Request Headers")->trigger();
    EXPECT_EQ(clipboard->text().toStdString(), request);
    menuItem("Copy Response Headers")->trigger();
    EXPECT_EQ(clipboard->text(), "HTTP/1.1 404 Not Found\r\n\r\n");
    list.contextMenu()->close();

    clipboard->clear();
    list.tableView()->setFocus();
    QTest::keyClick(list.tableView(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(clipboard->text(), "curl -X 'PUT' 'http://api.example/items/7?x=1' \\\n  -H 'Host: api.example' \\\n"
                                 "  -H 'X-Q: it'\\''s'");
}

TEST_F(CurrentListTest, ReportsFromTheProcessorsThreadArriveWholeOnTheGuiThread)
{
    select(1);
    std::atomic<bool> done{false};
    std::thread link([&] {
        for (std::int64_t round = 0; round < 200; ++round) {
            Ids ids;
            for (std::int64_t id = round % 7; id < 40; id += 1 + round % 3)
                ids.push_back(id);
            ids.push_back(1);
            processer->processPacket(test::report(Command::currentTunnels, records(ids)));
        }
        processer->processPacket(test::report(Command::currentTunnels, records({9, 1, 8})));
        done = true;
    });
    while (!done) {
        QCoreApplication::processEvents();
        ASSERT_EQ(list.mainArray().size(), static_cast<std::size_t>(list.model()->rowCount()));
        ASSERT_EQ(selectedId(), 1);
    }
    link.join();
    settle();
    EXPECT_EQ(shownIds(), (Ids{9, 1, 8}));
    EXPECT_EQ(selectedId(), 1);
    EXPECT_EQ(delegate.shown, list.model()->recordAt(1));
}

TEST_F(CurrentListTest, ADelegateThatIsGoneIsNotCalled)
{
    {
        test::RecordingDelegate shortLived(list);
        list.setBasicDelegate(&shortLived);
    }
    EXPECT_EQ(list.basicDelegate(), nullptr);
    select(2);
    report(Command::currentTunnels, records({1}));
    EXPECT_EQ(list.detailTunnelInfoId(), -1);
}

using RecentListTest = test::ListFixture<VDRecTunListViewController>;

TEST_F(RecentListTest, ShowsTheRecentRecordsOnly)
{
    list.show();
    report(Command::historyTunnels, records({3, 1, 2}));
    EXPECT_EQ(shownIds(), (Ids{1, 2, 3}));
    report(Command::currentTunnels, records({9}));
    EXPECT_EQ(shownIds(), (Ids{1, 2, 3}));
    processer->cleanRecentRecord();
    settle();
    EXPECT_EQ(shownIds(), Ids{});
}

} // namespace
} // namespace vd
