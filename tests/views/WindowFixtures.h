#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QTableView>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "TunnelRecords.h"
#include "data/VDDataManager.h"
#include "integration/SimHarness.h"
#include "support/TempDir.h"
#include "views/VDBaseSectionViewController.h"
#include "views/VDBaseTunnelListViewController.h"
#include "views/VDTunnelTableModel.h"

namespace vd::test {

using namespace std::chrono_literals;

// A test whose window's processor is registered under an id of its own and removed again when
// the test ends, fed service packets directly. Lists and sections reload through the queued
// hops of their observers; settle() lets those run.
class WindowProcesserTest : public ::testing::Test {
protected:
    ~WindowProcesserTest() override { VDDataManager::sharedInstance().removeId(idString); }

    static void settle()
    {
        for (int i = 0; i < 4; ++i)
            QCoreApplication::processEvents();
    }
    void feed(contract::Command cmd, QNComPacket::Dictionary data)
    {
        processer->processPacket(servicePacket(cmd, std::move(data)));
        settle();
    }
    void filter(const std::string& text)
    {
        processer->setFilterString(text);
        settle();
    }
    // A tunnel report (current or recent).
    void report(contract::Command cmd, const std::vector<TunnelFields>& records)
    {
        processer->processPacket(test::report(cmd, records));
        settle();
    }

    const std::string idString = freshId();
    const std::shared_ptr<VDDataProcesser> processer = VDDataManager::sharedInstance().bindProcesserId(idString);

private:
    static std::string freshId()
    {
        static int count = 0;
        return "TEST-WINDOW-" + std::to_string(++count);
    }
};

// The same, connected to the simulated service over its local socket.
class RecordListServiceFixture : public WindowProcesserTest {
protected:
    // Zero: the service's time stands still, so its tables change only by commands. A scale
    // above zero grows the service's traffic that many times.
    explicit RecordListServiceFixture(std::chrono::milliseconds tick, std::size_t scale = 0) : sim_(options(dir_, tick, scale)) {}

    static sim::SimulatorOptions options(const TempDir& dir, std::chrono::milliseconds tick, std::size_t scale)
    {
        sim::SimulatorOptions options;
        options.socketPath = dir / "db.connect";
        options.tickInterval = tick;
        options.scale = scale;
        return options;
    }
    void SetUp() override
    {
        processer->connectToSocketPath((dir_ / "db.connect").string());
        ASSERT_TRUE(QTest::qWaitFor([&] { return processer->connectStatus() == ConnectStatus::connected; }, 5000));
    }
    void TearDown() override { processer->disconnect(); }

    // The commands of this kind the service has received so far, in order.
    std::vector<nlohmann::json> commands(contract::Command cmd)
    {
        std::vector<nlohmann::json> found;
        for (const auto& packet : sim_.received()) {
            if (packet.value("t", std::uint64_t{0}) == contract::numberOf(cmd))
                found.push_back(packet);
        }
        return found;
    }
    // The last push switch of this command the service received; null when none arrived.
    nlohmann::json lastSwitch(contract::Command cmd)
    {
        const auto found = commands(cmd);
        return found.empty() ? nlohmann::json() : found.back()["d"]["switch"];
    }

    TempDir dir_;
    SimHarness sim_;
};

// The split view as a list sees it: records every call, and deselects the list when it
// collapses, as the real one does.
class RecordingDelegate : public QObject, public VDTunnelListDelegate {
public:
    explicit RecordingDelegate(VDBaseTunnelListViewController& list) : list_(list) {}

    void openDetailFor(const std::shared_ptr<const VDTunnelInfo>& tunnel) override
    {
        calls.push_back("open " + std::to_string(tunnel->id_()));
        shown = tunnel;
    }
    void updateDetailFor(const std::shared_ptr<const VDTunnelInfo>& tunnel) override
    {
        calls.push_back("update " + std::to_string(tunnel->id_()));
        shown = tunnel;
    }
    void collapseDetail() override
    {
        calls.push_back("collapse");
        shown = nullptr;
        list_.deSelectTunnel();
    }

    std::vector<std::string> calls;
    std::shared_ptr<const VDTunnelInfo> shown;

private:
    VDBaseTunnelListViewController& list_;
};

// A tunnel list of a window, with a recording split view; whatever a test does, the list's
// model keeps the rules every model must.
template <typename List>
class ListFixture : public WindowProcesserTest {
protected:
    ListFixture()
    {
        list.setBasicDelegate(&delegate);
        list.resize(1000, 600);
    }
    std::vector<std::int64_t> shownIds() const { return idsOf(list.mainArray()); }
    int selectedRow() const
    {
        const auto rows = list.tableView()->selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    }
    std::int64_t selectedId() const
    {
        const auto record = list.model()->recordAt(selectedRow());
        return record ? record->id_() : -1;
    }
    void select(std::int64_t id) { list.tableView()->selectRow(list.model()->rowOfKey(id)); }

    List list{idString};
    RecordingDelegate delegate{list};
    QAbstractItemModelTester tester{list.model(), QAbstractItemModelTester::FailureReportingMode::Fatal};
};

// The sections of a window.
class SectionFixture : public WindowProcesserTest {
protected:
    // The service's info: 10.0.0.5 counts as this machine besides the usual addresses.
    void serviceInfo() { feed(contract::Command::info, {{"service_start_time", 1.7e9}, {"local_address", {"10.0.0.5"}}}); }

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
        return rows.isEmpty() ? QString() : rows.first().parent().data().toString() + "/" + rows.first().data().toString();
    }
    static QPoint centreOf(const VDBaseSectionViewController& sidebar, const QModelIndex& index)
    {
        return sidebar.tableView()->visualRect(index).center();
    }
};

} // namespace vd::test
