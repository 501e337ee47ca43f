
#include <QAbstractItemModelTester>
#include <QMenu>

#include "WindowFixtures.h"
#include "support/WidgetProbe.h"
#include "app/ShellFixture.h"
#include "UrlCatcher.h"
#include "support/PostCounter.h"
#include "data/VDNotifications.h"
#include "views/VDCurTunViewController.h"
#include "views/VDRecTunViewController.h"

namespace vd::test {
namespace {

using contract::Command;

// A session bus that cannot be reached, so a reveal falls back to opening the folder and nothing
// reaches the desktop of whoever runs this.
class UnreachableBus : public testing::Environment {
public:
    void SetUp() override { setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vantor-test-bus", 1); }
};
const auto* const environment = testing::AddGlobalTestEnvironment(new UnreachableBus);

class ClientSidebarTest : public SectionFixture {
protected:
    ClientSidebarTest()
    {
        section.resize(1000, 600);
        section.show();
        serviceInfo();
    }
    VDBaseSectionViewController& sidebar() { return *section.sectionVC(); }
    void click(const QModelIndex& index, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(sidebar().tableView()->viewport(), button, {}, centreOf(sidebar(), index));
        settle();
    }

    VDCurTunViewController section{idString};
    QAbstractItemModelTester tester{section.sectionVC()->tableView()->model(), QAbstractItemModelTester::FailureReportingMode::Fatal};
};

const std::vector<test::TunnelFields> kClients{
    {.id = 1, .bundleId = "com.example.mail", .processName = "Mail", .fromHost = "127.0.0.1",
     .processPath = "/Applications/Mail.app/Contents/MacOS/Mail"},
    {.id = 2, .bundleId = "com.example.notes", .processName = "Notes", .fromHost = "::1"},
    {.id = 3, .bundleId = "com.example.mail", .processName = "Mail", .fromHost = "192.168.1.20"},
    {.id = 4, .bundleId = "com.example.phone", .processName = "Phone", .fromHost = "192.168.1.30"},
};

TEST_F(ClientSidebarTest, ChoosingAClientFiltersTheSectionUntilItVanishesAndReselectsLocalBeforeRemote)
{
    // Without clients: the three groups and All Clients selected.
    EXPECT_EQ(shownRows(sidebar()), QStringList({"All", "  All Clients", "Local", "Remote"}));
    EXPECT_EQ(selected(sidebar()), "All/All Clients");
    // Group rows take no selection, and a click beside the rows does not empty it.
    const auto& model = sidebar().model();
    EXPECT_FALSE(model.flags(model.index(VDSectionOutlineModel::LocalGroup, 0)) & Qt::ItemIsSelectable);
    click(model.index(VDSectionOutlineModel::RemoteGroup, 0));
    EXPECT_EQ(selected(sidebar()), "All/All Clients");
    QTest::mouseClick(sidebar().tableView()->viewport(), Qt::LeftButton, {}, QPoint(20, sidebar().tableView()->viewport()->height() - 5));
    EXPECT_EQ(selected(sidebar()), "All/All Clients");
    EXPECT_EQ(processer->currentFilterBundleId(), "-1");

    report(Command::currentTunnels, kClients);
    // Clients are listed by name, descending; remote ones by address.
    EXPECT_EQ(shownRows(sidebar()), QStringList({"All", "  All Clients", "Local", "  Notes", "  Mail", "Remote",
                                                 "  192.168.1.30", "  192.168.1.20"}));
    EXPECT_FALSE(model.index(0, 0, model.index(VDSectionOutlineModel::LocalGroup, 0)).data(Qt::DecorationRole).isNull());
    EXPECT_TRUE(model.index(0, 0, model.index(VDSectionOutlineModel::AllGroup, 0)).data(Qt::DecorationRole).isNull());

    PostCounter refreshes(kVDCurrentTunnelRefreshed);
    // The remote client shares its bundle id with the local Mail: the reload lands on the local one.
    click(model.clientIndex(VDSectionOutlineModel::RemoteGroup, 1));
    EXPECT_EQ(processer->currentFilterBundleId(), "com.example.mail");
    EXPECT_EQ(refreshes.count, 1);
    EXPECT_EQ(processer->recentFilterBundleId(), "-1") << "the other section keeps its own filter";
    EXPECT_EQ(selected(sidebar()), "Local/Mail");

    // Choosing the client that is already the filter changes nothing.
    click(model.clientIndex(VDSectionOutlineModel::LocalGroup, 1));
    EXPECT_EQ(refreshes.count, 1);

    // Keyboard moves skip the group rows.
    sidebar().tableView()->setFocus();
    QTest::keyClick(sidebar().tableView(), Qt::Key_Down);
    settle();
    EXPECT_EQ(selected(sidebar()), "Remote/192.168.1.30");
    EXPECT_EQ(processer->currentFilterBundleId(), "com.example.phone");

    // The same reports again keep the selection on the filtered client.
    report(Command::currentTunnels, kClients);
    EXPECT_EQ(selected(sidebar()), "Remote/192.168.1.30");

    // When it vanishes the filter falls back to all clients, as a click would.
    refreshes.count = 0;
    report(Command::currentTunnels, {kClients[0], kClients[1]});
    EXPECT_EQ(selected(sidebar()), "All/All Clients");
    EXPECT_EQ(processer->currentFilterBundleId(), "-1");
    EXPECT_GE(refreshes.count, 2);
    EXPECT_EQ(shownRows(sidebar()), QStringList({"All", "  All Clients", "Local", "  Notes", "  Mail", "Remote"}));
}

TEST_F(ClientSidebarTest, RecentSidebarFollowsTheRecentListsAndFilterOnly)
{
    VDRecTunViewController recent(idString);
    recent.show();
    report(Command::historyTunnels, {kClients[1], kClients[3]});
    report(Command::currentTunnels, {kClients[0]});
    EXPECT_EQ(shownRows(*recent.sectionVC()), QStringList({"All", "  All Clients", "Local", "  Notes", "Remote", "  192.168.1.30"}));
    EXPECT_EQ(shownRows(sidebar()), QStringList({"All", "  All Clients", "Local", "  Mail", "Remote"}));

    PostCounter recentRefreshes(kVDRecentTunnelRefreshed);
    QTest::mouseClick(recent.sectionVC()->tableView()->viewport(), Qt::LeftButton, {},
                      centreOf(*recent.sectionVC(), recent.sectionVC()->model().clientIndex(VDSectionOutlineModel::RemoteGroup, 0)));
    settle();
    EXPECT_EQ(processer->recentFilterBundleId(), "com.example.phone");
    EXPECT_EQ(processer->currentFilterBundleId(), "-1");
    EXPECT_EQ(recentRefreshes.count, 1);
    EXPECT_EQ(selected(sidebar()), "All/All Clients");
}

TEST_F(ClientSidebarTest, ContextMenuOnlyForClientsWithAPathAndRevealOpensTheFolderNotTheFile)
{
    report(Command::currentTunnels, kClients);
    auto& side = sidebar();
    const auto& model = side.model();

    // A group row: no menu and no change of selection.
    EXPECT_FALSE(side.menuNeedsUpdate(centreOf(side, model.index(VDSectionOutlineModel::LocalGroup, 0))));
    EXPECT_EQ(selected(side), "All/All Clients");
    // A client without a path is selected (and filtered on) but gets no menu.
    EXPECT_FALSE(side.menuNeedsUpdate(centreOf(side, model.clientIndex(VDSectionOutlineModel::LocalGroup, 0))));
    EXPECT_EQ(processer->currentFilterBundleId(), "com.example.notes");
    EXPECT_TRUE(side.menu()->actions().isEmpty());
    EXPECT_FALSE(side.menuNeedsUpdate(centreOf(side, model.clientIndex(VDSectionOutlineModel::AllGroup, 0))));
    settle();

    ASSERT_TRUE(side.menuNeedsUpdate(centreOf(side, model.clientIndex(VDSectionOutlineModel::LocalGroup, 1))));
    EXPECT_EQ(processer->currentFilterBundleId(), "com.example.mail");
    const auto actions = side.menu()->actions();
    ASSERT_EQ(menuTexts(*side.menu()), QStringList({"Show in File Manager", "-", "Add Rule for Mail"}));

    UrlCatcher catcher;
    // The outline reloads before the item is chosen; the menu still acts on its own record.
    report(Command::currentTunnels, kClients);
    actions[0]->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !catcher.opened.isEmpty(); }, 5000));
    EXPECT_EQ(catcher.opened, QList<QUrl>({QUrl::fromLocalFile("/Applications/Mail.app/Contents/MacOS")}));
    actions[2]->trigger();
    settle();
    EXPECT_EQ(catcher.opened.size(), 1);
}

} // namespace
} // namespace vd::test
