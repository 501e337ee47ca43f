#include "WindowOverview.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QMainWindow>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include "data/VDDataProcesser.h"
#include "data/VDNotifications.h"
#include "views/VDListPause.h"
#include "views/VDStatusFigures.h"

namespace vd {

WindowOverview::WindowOverview(QMainWindow& window, ProcesserSource processer)
    : QObject(&window), processer_(std::move(processer)), pause_(new VDListPause(&window)),
      figures_(new VDStatusFigures(&window)), pauseAction_(new QAction("Pause", this)),
      // Every id of the recent list, however full, and as many again that left the active list.
      totals_(2 * VDDataProcesser::kMaxRecentRecords),
      // The overview is no widget of the window, so the pause never holds its own refreshes.
      reports_(this, {kVDCurrentTunnelRefreshed, kVDRecentTunnelRefreshed, kVDDNSRefreshed, kVDUDPRefreshed}, [this] { refresh(); })
{
    window.statusBar()->addPermanentWidget(figures_);
    pauseAction_->setCheckable(true);
    pauseAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(pauseAction_, &QAction::toggled, this, &WindowOverview::setPaused);
    connect(figures_->pauseSwitch(), &QToolButton::toggled, this, &WindowOverview::setPaused);
    figures_->showActive({});
    figures_->showRows(0, 0);
    figures_->showTotals(0, 0);
}

void WindowOverview::setPaused(bool paused)
{
    if (pause_->isPaused() != paused) {
        pausedAtReport_ = lastReport_;
        pause_->setPaused(paused);
        figures_->showHeld(paused, 0);
        if (!paused)
            refresh();
    }
    // The menu item and the switch show the same state, whichever was used.
    pauseAction_->setChecked(paused);
    figures_->pauseSwitch()->setChecked(paused);
}

void WindowOverview::showList(ShownList list)
{
    if (shownRows_)
        shownRows_->disconnect(this);
    shown_ = list;
    shownRows_ = list.rows;
    if (list.rows) {
        // The rows change after the reports, when the list reloads; counted once per burst.
        const auto queueCount = [this] {
            if (std::exchange(rowCountQueued_, true))
                return;
            QTimer::singleShot(0, this, [this] {
                rowCountQueued_ = false;
                countRows();
            });
        };
        connect(list.rows, &QAbstractItemModel::modelReset, this, queueCount);
        connect(list.rows, &QAbstractItemModel::rowsInserted, this, queueCount);
        connect(list.rows, &QAbstractItemModel::rowsRemoved, this, queueCount);
        connect(list.rows, &QAbstractItemModel::layoutChanged, this, queueCount);
    }
    countRows();
}

void WindowOverview::refresh()
{
    const auto processer = processer_();
    if (!processer)
        return;
    const std::uint64_t report = processer->activeReportCount();
    const std::size_t recentSize = processer->listSizes().recent;
    const bool newReport = report != lastReport_;
    lastReport_ = report;
    // Counted while paused too: the totals are of the service, not of the rows shown.
    if (newReport || recentSize != std::exchange(lastRecentSize_, recentSize)) {
        const TunnelList active = processer->currentTunnelInfos();
        totals_.update(active, processer->recentTunnelInfos(), processer->initTime());
        const ByteCounts& bytes = totals_.counts().bytes;
        figures_->showTotals(static_cast<std::int64_t>(bytes.sent), static_cast<std::int64_t>(bytes.received));
        if (newReport && !pause_->isPaused())
            figures_->showActive(active);
    }
    if (pause_->isPaused())
        figures_->showHeld(true, report - pausedAtReport_);
    else
        countRows();
}

void WindowOverview::countRows()
{
    const auto processer = processer_();
    if (!processer || !shownRows_ || pause_->isPaused())
        return;
    const VDDataProcesser::ListSizes sizes = processer->listSizes();
    const std::size_t listed = shown_.kind == ShownList::recent ? sizes.recent
                               : shown_.kind == ShownList::active ? sizes.active
                               : shown_.kind == ShownList::dns   ? sizes.dns
                                                                 : sizes.udp;
    figures_->showRows(static_cast<std::size_t>(shownRows_->rowCount()), listed);
}

} // namespace vd
