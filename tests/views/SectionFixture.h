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
#include "WindowProcesserTest.h"
#include "views/VDBaseSectionViewController.h"
#include "views/VDBaseTunViewController.h"

namespace vd::test {

// The sections of a window whose processor is fed reports directly.
class SectionFixture : public WindowProcesserTest {
protected:
    // The service's info: 10.0.0.5 counts as this machine besides the usual addresses.
    void serviceInfo() { processer->processPacket(servicePacket(contract::Command::info, {{"service_start_time", 1.7e9}, {"local_address", {"10.0.0.5"}}})); }
    // A tunnel report (current or recent) with one tunnel per client.
    void report(contract::Command cmd, const std::vector<TunnelFields>& clients)
    {
        processer->processPacket(test::report(cmd, clients));
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
};

} // namespace vd::test
