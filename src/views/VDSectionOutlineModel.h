#pragma once

#include <array>
#include <vector>

#include <QAbstractItemModel>
#include <QIcon>

#include "data/VDProcessInfo.h"
#include "data/VDRecordLists.h"

namespace vd {

// The client sidebar's outline: three groups ("All" with the synthetic "All Clients" record,
// "Local", "Remote") whose children are client records. Group rows are shown but can be neither
// selected nor focused; only client rows can.
class VDSectionOutlineModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Group { AllGroup = 0, LocalGroup = 1, RemoteGroup = 2 };
    static constexpr int kGroupCount = 3;
    // The bundle id of "All Clients", which is also the client filter meaning "no filter".
    static constexpr const char* kAllClientsBundleId = "-1";

    explicit VDSectionOutlineModel(QObject* parent = nullptr);

    // Replaces the clients of the "Local" and "Remote" groups. The outline is rebuilt only when
    // what it shows changed, so the once-a-second refresh of an unchanged list costs no redraw.
    void setClients(ProcessList localClients, ProcessList remoteClients);
    const ProcessList& clients(Group group) const { return groups_[group].children; }

    // The client record of a client row; null for group rows and invalid indexes.
    const VDProcessInfo* processAt(const QModelIndex& index) const;
    QModelIndex clientIndex(Group group, int row) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct GroupRows {
        QString parent;
        ProcessList children;
        // One per child, taken from the icon cache when the children are set.
        std::vector<QIcon> icons;
    };

    static std::vector<QIcon> iconsOf(const ProcessList& clients);
    static bool sameRows(const GroupRows& shown, const ProcessList& clients, const std::vector<QIcon>& icons);

    // A client row's internal id names its group (group + 1); group rows carry 0.
    std::array<GroupRows, kGroupCount> groups_;
};

} // namespace vd
