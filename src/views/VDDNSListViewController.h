#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <QMenu>
#include <QPointer>
#include <QWidget>

#include "VDDNSColumns.h"
#include "VDRecordTableModel.h"
#include "VDRecordTableView.h"
#include "VDReloadObserver.h"
#include "VDShownGeneration.h"
#include "data/VDDNSInfo.h"

class QPushButton;
class QToolButton;

namespace vd {

class VDDataProcesser;

// The DNS table of a window with its bottom bar (delete, refresh, "Purge DNS Cache") and its
// context menu. It shows the processor's name table (by `idString`, through the registry)
// filtered by the window's filter text and the type chosen in the sidebar, in the order chosen
// in the header. Reloads keep the selected record (by domain and type) selected and the record at
// the top of the table at the top.
//
// Commands change nothing here: the service's next DNS report does. While the table is on screen
// the service pushes its DNS changes; hidden, it does not.
class VDDNSListViewController : public QWidget {
    Q_OBJECT
public:
    using Model = VDRecordTableModel<VDDNSColumns>;

    explicit VDDNSListViewController(std::string idString, QWidget* parent = nullptr);

    const std::string& idString() const { return idString_; }
    // 0 every type, else only configured (1), hosts-file (2) or dynamic (3) entries.
    std::uint64_t filterType() const { return filterType_; }
    void setFilterType(std::uint64_t type)
    {
        filterType_ = type;
        shown_.forget();
    }
    const std::string& selectedDomain() const { return selectedDomain_; }

    // Rebuilds the rows from the processor and redraws, in place.
    void reloadData();
    // Deletes the chosen record when it is a dynamic one; nothing without one.
    void delAction();
    void refreshAction();
    void purgeAction();

    VDRecordTableView* tableView() const { return tableView_; }
    Model* model() const { return model_; }
    QToolButton* delButton() const { return delButton_; }
    QToolButton* refreshButton() const { return refreshButton_; }
    QPushButton* purgeButton() const { return purgeButton_; }
    const std::vector<VDDNSInfo>& mainArray() const { return model_->mainArray(); }

    // The context menu for a row, which becomes the selection first; its actions keep that
    // row's record. Null for a place without a row.
    QMenu* menuNeedsUpdate(int row);
    QMenu* contextMenu() const { return contextMenu_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::shared_ptr<VDDataProcesser> processer() const;
    QWidget* makeBottomBar();
    void tableViewRowChangeAction();
    // Each row is as tall as its addresses wrapped to the IPs column's width.
    void updateRowHeights();
    void removeDomain(const std::string& domain);
    void filterByDomain(const std::string& domain);

    const std::string idString_;
    std::uint64_t filterType_ = 0;
    std::string selectedDomain_;
    // The record the user chose, as the last reload showed it.
    std::optional<VDDNSInfo> chosen_;
    // Rows being replaced: the selection the model drops then is not the user's doing.
    bool publishing_ = false;
    Model* model_;
    VDRecordTableView* tableView_;
    QToolButton* delButton_ = nullptr;
    QToolButton* refreshButton_ = nullptr;
    QPushButton* purgeButton_ = nullptr;
    QPointer<QMenu> contextMenu_;
    VDShownGeneration shown_;
    VDReloadObserver reloads_;
};

} // namespace vd
