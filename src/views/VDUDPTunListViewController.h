#pragma once

#include <memory>
#include <string>

#include <QWidget>

#include "VDRecordTableModel.h"
#include "VDRecordTableView.h"
#include "VDReloadObserver.h"
#include "VDShownGeneration.h"
#include "VDUDPColumns.h"
#include "data/VDRecordLists.h"

namespace vd {

class VDDataProcesser;

// The UDP section of a main window: the UDP records the service pushes while the section is on
// screen, newest first (or in the order chosen in the header), whose destination contains the
// window's filter text. Rows are only shown, never selected; the record at the top of the table
// stays there as new ones arrive. Off screen the service pushes nothing and the list does not
// change.
class VDUDPTunListViewController : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMinimumHeight = 100;
    using Model = VDRecordTableModel<VDUDPColumns>;

    explicit VDUDPTunListViewController(std::string idString, QWidget* parent = nullptr);

    const std::string& idString() const { return idString_; }
    bool viewAppeared() const { return viewAppeared_; }
    // Rebuilds the rows from the processor; nothing while off screen.
    void reloadData();

    VDRecordTableView* tableView() const { return tableView_; }
    Model* model() const { return model_; }
    const UDPList& mainArray() const { return model_->mainArray(); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::shared_ptr<VDDataProcesser> processer() const;

    const std::string idString_;
    bool viewAppeared_ = false;
    Model* model_;
    VDRecordTableView* tableView_;
    VDShownGeneration shown_;
    VDReloadObserver reloads_;
};

} // namespace vd
