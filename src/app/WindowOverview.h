#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <QObject>
#include <QPointer>

#include "data/TrafficTotals.h"
#include "views/VDReloadObserver.h"

class QAbstractItemModel;
class QAction;
class QMainWindow;

namespace vd {

class VDDataProcesser;
class VDListPause;
class VDStatusFigures;

// Which of the processor's lists a section shows, and the table showing it.
struct ShownList {
    enum Kind { recent, active, dns, udp };
    Kind kind = active;
    QAbstractItemModel* rows = nullptr;
};

// The live overview of one main window, in its status bar: the figures of its service and the
// switch that pauses its lists. It follows only its own processor's reports, told apart from
// other windows' by the processor's report count, since the notifications name no sender.
class WindowOverview : public QObject {
    Q_OBJECT
public:
    using ProcesserSource = std::function<std::shared_ptr<VDDataProcesser>()>;

    WindowOverview(QMainWindow& window, ProcesserSource processer);

    // The View menu's "Pause", checked while the lists are paused.
    QAction* pauseAction() const { return pauseAction_; }
    VDListPause* pause() const { return pause_; }
    VDStatusFigures* figures() const { return figures_; }
    // The section now shown; its rows are counted from now on.
    void showList(ShownList list);

private:
    void setPaused(bool paused);
    void refresh();
    void countRows();

    ProcesserSource processer_;
    VDListPause* pause_ = nullptr;
    VDStatusFigures* figures_ = nullptr;
    QAction* pauseAction_ = nullptr;
    ShownList shown_;
    QPointer<QAbstractItemModel> shownRows_;
    // Bytes moved since the window connected, which never go down.
    TrafficTotals totals_;
    std::size_t lastRecentSize_ = 0;
    std::uint64_t lastReport_ = 0;
    std::uint64_t pausedAtReport_ = 0;
    bool rowCountQueued_ = false;
    // Last member: no report reaches an overview being destroyed.
    VDReloadObserver reports_;
};

} // namespace vd
