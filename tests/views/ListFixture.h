#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include "TunnelRecords.h"
#include "WindowProcesserTest.h"
#include "data/VDDataManager.h"
#include "support/TempDir.h"
#include "views/VDBaseTunnelListViewController.h"
#include "views/VDTunnelTableModel.h"

namespace vd::test {

// Icons and dumps of the lists under test go to a folder of this program's own.
class ViewsEnvironment : public testing::Environment {
public:
    void SetUp() override { setenv("XDG_CACHE_HOME", (folder_ / "caches").c_str(), 1); }

private:
    TempDir folder_;
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

// A list of a window whose processor is fed reports directly.
template <typename List>
class ListFixture : public WindowProcesserTest {
protected:
    ListFixture()
    {
        list.setBasicDelegate(&delegate);
        list.resize(1000, 600);
    }
    void report(contract::Command cmd, const std::vector<TunnelFields>& records)
    {
        processer->processPacket(test::report(cmd, records));
        settle();
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
};

} // namespace vd::test
