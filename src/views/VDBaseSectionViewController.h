#pragma once

#include <string>

#include <QWidget>

#include "VDReloadObserver.h"
#include "VDSectionOutlineModel.h"
#include "VDShownGeneration.h"
#include "VDTunnelVariant.h"

class QMenu;
class QTreeView;

namespace vd {

class VDSectionDelegate;

// The client sidebar of a tunnel section: an outline of the clients behind the shown records,
// in the groups "All", "Local" and "Remote", that lets the user narrow the tunnel list to one
// client. Its selected row always follows the processor's client filter after a reload; choosing
// another client goes to the delegate, which changes that filter.
class VDBaseSectionViewController : public QWidget {
    Q_OBJECT
public:
    const std::string& idString() const { return idString_; }
    // Not owned; the owner clears it before it goes away.
    void setDelegate(VDSectionDelegate* delegate) { delegate_ = delegate; }

    QTreeView* tableView() const { return tableView_; }
    const VDSectionOutlineModel& model() const { return model_; }
    // The client of the selected row; null when none is selected.
    const VDProcessInfo* selectedProcess() const;

    // Takes the processor's client lists, redraws and selects the client its filter names.
    void reloadData();
    // Selects the client known by its app's bundle id or, without one, by the address it comes
    // from, as a click on its row does; "All Clients" when it is not listed.
    void chooseClient(const std::string& key);

    // Rebuilds the context menu for a secondary click at `pos` (in the outline's viewport):
    // selects the client row there first, like a click. False when there is nothing to show.
    bool menuNeedsUpdate(const QPoint& pos);
    QMenu* menu() const { return menu_; }

protected:
    VDBaseSectionViewController(std::string idString, const VDTunnelVariant& variant, QWidget* parent);

private:
    void tableViewRowChangeAction();
    void selectClient(const QModelIndex& index);
    // The row of the client named by `filter`: local before remote, else "All Clients".
    QModelIndex rowOfFilter(const std::string& filter) const;
    void showProcessLocation(const VDProcessInfo& process);

    const std::string idString_;
    const VDTunnelVariant& variant_;
    VDSectionDelegate* delegate_ = nullptr;
    VDSectionOutlineModel model_;
    QTreeView* tableView_;
    QMenu* menu_;
    VDShownGeneration shown_;
    // Refreshes come every second from every window; one queued reload at a time is enough.
    // Last member: gone first, so no notification reaches a half-destroyed sidebar.
    VDReloadObserver reloads_;
};

} // namespace vd
