#include <QHeaderView>

#include "ListFixture.h"
#include "RecordListFixture.h"
#include "integration/SimHarness.h"
#include "views/VDCurTunListViewController.h"
#include "views/VDRecTunListViewController.h"

namespace vd {
namespace {

using contract::Command;
using namespace std::chrono_literals;

// The lists of a window connected to the simulated service over its local socket.
template <typename List>
class ListWithServiceTest : public test::ListFixture<List> {
protected:
    static sim::SimulatorOptions options(const test::TempDir& dir)
    {
        sim::SimulatorOptions options;
        options.socketPath = dir / "db.connect";
        options.scale = 30;
        options.tickInterval = 50ms;
        return options;
    }
    void SetUp() override
    {
        this->processer->connectToSocketPath((dir_ / "db.connect").string());
        ASSERT_TRUE(QTest::qWaitFor([&] { return this->processer->connectStatus() == ConnectStatus::connected; }, 5000));
    }
    void TearDown() override { this->processer->disconnect(); }

    std::vector<nlohmann::json> commands(contract::Command cmd) { return test::receivedCommands(sim_, cmd); }

    test::TempDir dir_;
    test::SimHarness sim_{options(dir_)};
};

using CurrentListWithServiceTest = ListWithServiceTest<VDCurTunListViewController>;
using RecentListWithServiceTest = ListWithServiceTest<VDRecTunListViewController>;

TEST_F(CurrentListWithServiceTest, ShowingAnEmptyListAsksForTunnelsAndKillClosesTheSelectedOne)
{
    list.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.mainArray().size() >= 30; }, 5000));
    EXPECT_FALSE(commands(Command::currentTunnels).empty());

    list.tableView()->horizontalHeader()->setSortIndicator(VDTunnelColumns::kId, Qt::AscendingOrder);
    list.tableView()->selectRow(3);
    const std::int64_t chosen = list.detailTunnelInfoId();
    ASSERT_EQ(list.model()->recordAt(3)->id_(), chosen);
    list.killTunnel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !commands(Command::closeTunnel).empty(); }, 5000));
    EXPECT_EQ(commands(Command::closeTunnel).front()["d"]["tunnel_id"], chosen);
    // The service ends it; as an active connection it leaves the list and the pane collapses.
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.model()->rowOfKey(chosen) < 0; }, 5000));
    EXPECT_EQ(list.detailTunnelInfoId(), -1);
    EXPECT_EQ(delegate.calls.back(), "collapse");
}

TEST_F(RecentListWithServiceTest, ShowingTheListAlwaysAsksForRecentRecords)
{
    list.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !commands(Command::historyTunnels).empty(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        if (list.mainArray().empty()) {
            list.hide();
            list.show();
        }
        return !list.mainArray().empty();
    }, 10000));
    const auto asked = commands(Command::historyTunnels).size();
    list.hide();
    list.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return commands(Command::historyTunnels).size() > asked; }, 5000));
}

} // namespace
} // namespace vd
