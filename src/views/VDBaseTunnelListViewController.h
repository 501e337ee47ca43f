#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include <QMenu>
#include <QPointer>
#include <QWidget>

#include "VDColumnSorting.h"
#include "VDRecordTableView.h"
#include "VDReloadObserver.h"
#include "VDShownGeneration.h"
#include "VDTunnelFilter.h"
#include "VDTunnelListDelegate.h"
#include "data/VDRecordLists.h"

namespace vd {

class VDDataProcesser;
class VDTunnelTableModel;

// The table of tunnels of one section of a main window. It reads its window's processor (by
// `idString`, through the registry) when a refresh arrives while it is on screen, shows the
// records that pass the window's filter and client filter in the order chosen in the header,
// and keeps the detail pane of its split view (`basicDelegate`) on the selected record. Reloads
// keep the selected record selected and the record at the top of the table at the top.
//
// The subclasses say which of the processor's lists they show and what they ask the service
// for when they come on screen; "on screen" is this widget's own show and hide events.
class VDBaseTunnelListViewController : public QWidget {
    Q_OBJECT
public:
    const std::string& idString() const { return idString_; }
    // The split view that shows the detail pane. Not owned; when it is a QObject, its
    // destruction is noticed and it is called no more.
    void setBasicDelegate(VDTunnelListDelegate* delegate);
    VDTunnelListDelegate* basicDelegate() const;

    // Rebuilds the rows from the processor (nothing while off screen) and reconciles the pane.
    void reloadData();
    // Brings the detail pane in line with the rows: the record shown there is selected and
    // refreshed, or the pane collapses when the record is gone or none is open.
    void reloadTableView();
    void deSelectTunnel();
    // Closes the selected record's connection; nothing without a selection.
    void killTunnel();
    // Makes the selected record's host the window's filter text.
    void setFilterString();
    // Puts a curl command that sends the selected record's request again on the clipboard, once
    // its captured request body is to hand; nothing for a record without an HTTP request.
    void tunnelCurlCommand();
    void tableViewRowChangeAction();

    VDRecordTableView* tableView() const { return tableView_; }
    VDTunnelTableModel* model() const { return model_; }
    const TunnelList& mainArray() const;
    const ColumnSortDescriptors& sortDescriptors() const;
    std::int64_t detailTunnelInfoId() const { return detailTunnelInfoId_; }
    bool viewAppeared() const { return viewAppeared_; }
    // The menu built for the last secondary click on a row, while it exists.
    QMenu* contextMenu() const { return contextMenu_; }

protected:
    // `list`: the processor's list that `tunnelsOf` reads, which `refreshNotification` announces.
    VDBaseTunnelListViewController(std::string idString, const char* refreshNotification, VDListGenerations::Part list,
                                   QWidget* parent);

    virtual TunnelList tunnelsOf(const VDDataProcesser& processer) const = 0;
    virtual std::string clientFilterOf(const VDDataProcesser& processer) const = 0;
    // What the section asks of the service each time it comes on screen.
    virtual void viewDidAppear(VDDataProcesser& processer) = 0;
    // A list whose rows arrive newest last follows the newest rows, as a log viewer does, while
    // the user reads nothing else: no record open and the newest end of an id or date order in
    // view. Scrolling away or opening a record stops it; scrolling back starts it again.
    void setFollowsNewest(bool follows) { followsNewest_ = follows; }

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::shared_ptr<VDDataProcesser> processer() const;
    void setUpTable();
    void publish(TunnelList rows);
    // Off screen the list does not follow its processor, so it lets its records go rather than
    // keep a snapshot alive beside the processor's newer lists.
    void releaseRows();
    void restoreTopRow();
    // Where the newest rows are, in the present order; none under an order by anything else.
    enum class NewestEnd { none, top, bottom };
    NewestEnd newestEnd() const;
    bool newestEndInView() const;
    // Scrolling done by the list itself, which leaves following as the user left it.
    class ScrollingItself {
    public:
        explicit ScrollingItself(VDBaseTunnelListViewController& list) : list_(list), was_(std::exchange(list.scrollingItself_, true)) {}
        ~ScrollingItself() { list_.scrollingItself_ = was_; }
        ScrollingItself(const ScrollingItself&) = delete;
        ScrollingItself& operator=(const ScrollingItself&) = delete;

    private:
        VDBaseTunnelListViewController& list_;
        const bool was_;
    };
    std::shared_ptr<const VDTunnelInfo> selectedRecord() const;
    int selectedRow() const;
    void openContextMenu(const QPoint& position);
    // The menu for one record; its actions keep that record's id and host.
    QMenu* menuNeedsUpdate(const std::shared_ptr<const VDTunnelInfo>& tunnel);
    void closeTunnel(std::int64_t tunnelId);
    void filterByHost(const std::string& host);
    void addCopyItems(QMenu& menu, const std::shared_ptr<const VDTunnelInfo>& tunnel);
    void collapseDetail();

    const std::string idString_;
    VDRecordTableView* tableView_ = nullptr;
    VDTunnelTableModel* model_ = nullptr;
    VDTunnelFilter filter_;
    std::int64_t detailTunnelInfoId_ = -1;
    // The record at the top of the list when it was let go: it is brought back there.
    std::int64_t topTunnelInfoId_ = -1;
    bool viewAppeared_ = false;
    bool followsNewest_ = false;
    // The user last left the list at its newest end.
    bool following_ = true;
    bool scrollingItself_ = false;
    // Rows being replaced: selection changes then are not the user's.
    bool publishing_ = false;
    VDTunnelListDelegate* basicDelegate_ = nullptr;
    QPointer<QObject> delegateObject_;
    bool delegateIsObject_ = false;
    QPointer<QMenu> contextMenu_;
    VDShownGeneration shown_;
    // Last member: gone first, so no notification reaches a list being destroyed.
    VDReloadObserver reloads_;
};

} // namespace vd
