#include <QAbstractItemModel>
#include <QMap>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include "data/VDDataManager.h"
#include "views/TunnelRecords.h"
#include "views/VDCurTunListViewController.h"

namespace vd {
namespace {

using contract::Command;
using test::servicePacket;

TEST(LocaleTable, ActiveConnectionsShowTheirFiguresWithADot)
{
    const std::string windowId = "LOCALE-TABLE";
    const auto processer = VDDataManager::sharedInstance().bindProcesserId(windowId);
    {
        VDCurTunListViewController list(windowId);
        list.resize(1000, 400);
        list.show();
        // Services may send their reals as texts; these must read with a dot too.
        processer->processPacket(servicePacket(Command::info, {{"service_start_time", "1700000000.75"}}));
        const std::string record = R"({"id":7,"endId":7,"type":2,"t_start":"1.5","t_end":"14","host":"example.com",)"
                                   R"("port":443,"processName":"app","processIdentifier":100,"tx":1536,"rx":"2202009"})";
        processer->processPacket(servicePacket(Command::currentTunnels, {{"tunnels", {record}}}));

        const auto* view = list.findChild<QTableView*>();
        ASSERT_NE(view, nullptr);
        const QAbstractItemModel& model = *view->model();
        ASSERT_TRUE(QTest::qWaitFor([&] { return model.rowCount() == 1; }, 10'000));
        // The row's texts by their columns' titles, read as the view reads them.
        QMap<QString, QString> row;
        for (int c = 0; c < model.columnCount(); ++c)
            row[model.headerData(c, Qt::Horizontal).toString()] = model.index(0, c).data().toString();
        EXPECT_EQ(QStringList({row["Upload"], row["Download"], row["Duration"], row["Date"]}),
                  QStringList({"1.5KB", "2.1MB", "12.50 s", "22:13"}));
    }
    VDDataManager::sharedInstance().removeId(windowId);
}

} // namespace
} // namespace vd
