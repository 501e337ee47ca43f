#include <QAbstractItemModel>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include "data/VDDataManager.h"
#include "link/QNComPacket.h"
#include "views/VDCurTunListViewController.h"

namespace vd {
namespace {

QNComPacket packet(std::uint64_t cmd, QNComPacket::Dictionary data)
{
    QNComPacket packet;
    packet.setCmd(cmd);
    packet.setData(std::move(data));
    return packet;
}

// The text of the cell under the column titled `title`, read as the view reads it.
QString cell(const QAbstractItemModel& model, int row, const QString& title)
{
    for (int column = 0; column < model.columnCount(); ++column) {
        if (model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString() == title)
            return model.data(model.index(row, column), Qt::DisplayRole).toString();
    }
    ADD_FAILURE() << "no column " << title.toStdString();
    return {};
}

TEST(LocaleTable, ActiveConnectionsShowTheirFiguresWithADot)
{
    const std::string windowId = "LOCALE-TABLE";
    const auto processer = VDDataManager::sharedInstance().bindProcesserId(windowId);
    {
        VDCurTunListViewController list(windowId);
        list.resize(1000, 400);
        list.show();
        // Services may send their reals as texts; these must read with a dot too.
        processer->processPacket(packet(1, {{"service_start_time", "1700000000.75"}}));
        const std::string record = R"({"id":7,"endId":7,"type":2,"t_start":"1.5","t_end":"14","host":"example.com",)"
                                   R"("port":443,"processName":"app","processIdentifier":100,"tx":1536,"rx":"2202009"})";
        processer->processPacket(packet(7, {{"tunnels", {record}}}));

        const auto* view = list.findChild<QTableView*>();
        ASSERT_NE(view, nullptr);
        const QAbstractItemModel& model = *view->model();
        ASSERT_TRUE(QTest::qWaitFor([&] { return model.rowCount() == 1; }, 10'000));
        QStringList shown;
        for (const char* title : {"Upload", "Download", "Duration", "Date"})
            shown << cell(model, 0, title);
        EXPECT_EQ(shown, QStringList({"1.5KB", "2.1MB", "12.50 s", "22:13"}));
    }
    VDDataManager::sharedInstance().removeId(windowId);
}

} // namespace
} // namespace vd
