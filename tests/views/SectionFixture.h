#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QSplitter>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/ShellFixture.h"
#include "data/VDDataManager.h"
#include "TunnelRecords.h"
#include "views/VDBaseSectionViewController.h"
#include "views/VDBaseTunViewController.h"

namespace vd::test {

// One client behind a tunnel, as the service reports it.
struct ClientFields {
    std::string fromHost = "127.0.0.1";
    std::string processName;
    std::string bundleId;
    std::string processPath;
};

// A tunnel report (7 current, 8 recent) with one tunnel per client.
inline QNComPacket clientsReport(contract::Command cmd, const std::vector<ClientFields>& clients)
{
    auto texts = nlohmann::ordered_json::array();
    std::int64_t id = 0;
    for (const auto& client : clients) {
        ++id;
        texts.push_back(nlohmann::ordered_json{{"id", id}, {"endId", id}, {"type", 2}, {"t_start", 1.0}, {"host", "example.com"},
                                               {"port", 443}, {"fromHost", client.fromHost}, {"fromPort", 50000 + id},
                                               {"processName", client.processName}, {"processIdentifier", 100 + id},
                                               {"bundleIdentifier", client.bundleId}, {"processPath", client.processPath}}
                            .dump());
    }
    return servicePacket(cmd, QNComPacket::Dictionary{{"tunnels", texts}});
}

// The sections of a window whose processor is registered under a fresh id. Sections reload
// through the queued hops of their observers; settle() lets those run.
class SectionFixture : public ::testing::Test {
protected:
    ~SectionFixture() override { VDDataManager::sharedInstance().removeId(idString); }

    static std::string freshId()
    {
        static int count = 0;
        return "TEST-SECTION-" + std::to_string(++count);
    }
    static void settle()
    {
        for (int i = 0; i < 4; ++i)
            QCoreApplication::processEvents();
    }
    // The service's info: 10.0.0.5 counts as this machine besides the usual addresses.
    void serviceInfo() { processer->processPacket(servicePacket(contract::Command::info, {{"service_start_time", 1.7e9}, {"local_address", {"10.0.0.5"}}})); }
    void report(contract::Command cmd, const std::vector<ClientFields>& clients)
    {
        processer->processPacket(clientsReport(cmd, clients));
        settle();
    }

    static QStringList shownRows(const VDBaseSectionViewController& sidebar)
    {
        QStringList rows;
        const auto& model = sidebar.model();
        for (int group = 0; group < model.rowCount(); ++group) {
            const QModelIndex parent = model.index(group, 0);
            rows << parent.data().toString();
            for (int row = 0; row < model.rowCount(parent); ++row)
                rows << "  " + model.index(row, 0, parent).data().toString();
        }
        return rows;
    }
    // "group/title" of the selected row, or "" when none is selected.
    static QString selected(const VDBaseSectionViewController& sidebar)
    {
        const auto rows = sidebar.tableView()->selectionModel()->selectedIndexes();
        if (rows.isEmpty())
            return {};
        return rows.first().parent().data().toString() + "/" + rows.first().data().toString();
    }
    static QPoint centreOf(const VDBaseSectionViewController& sidebar, const QModelIndex& index)
    {
        return sidebar.tableView()->visualRect(index).center();
    }

    const std::string idString = freshId();
    const std::shared_ptr<VDDataProcesser> processer = VDDataManager::sharedInstance().bindProcesserId(idString);
};

} // namespace vd::test
