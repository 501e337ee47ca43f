#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include "data/TrafficTotals.h"
#include "views/VDReloadObserver.h"
#include "views/VDShownGeneration.h"
#include "views/VDTrafficSample.h"

class QAbstractItemModel;
class QAction;
class QMainWindow;

namespace vd {

class VDDataProcesser;
class VDListPause;
class VDStatusFigures;
class VDTrafficPanel;
class VDTunnelInfo;

// Which of the processor's lists a section shows, and the table showing it.
struct ShownList {
    enum Kind { recent, active, dns, udp };
    Kind kind = active;
    QAbstractItemModel* rows = nullptr;
};

// The live overview of one main window: in its status bar the figures of its service and the
// switch that pauses its lists, and the Traffic panel, docked below the lists. The notifications
// name no sender: it works only when its own processor's lists changed, and counts its own
// processor's reports.
class WindowOverview : public QObject {
    Q_OBJECT
public:
    using ProcesserSource = std::function<std::shared_ptr<VDDataProcesser>()>;

    // `idString`: the window's id, under which `processer` is registered.
    WindowOverview(QMainWindow& window, const std::string& idString, ProcesserSource processer);

    // The View menu's "Pause", checked while the lists are paused.
    QAction* pauseAction() const { return pauseAction_; }
    // The View menu's "Traffic", checked while the panel is shown; remembered.
    QAction* trafficAction() const { return trafficAction_; }
    VDTrafficPanel* trafficPanel() const { return trafficPanel_; }
    VDListPause* pause() const { return pause_; }
    VDStatusFigures* figures() const { return figures_; }
    // The section now shown; its rows are counted from now on.
    void showList(ShownList list);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // A client chosen in the Traffic panel, by the key the client filter knows it by.
    void clientChosen(const QString& client);

private:
    void installTrafficPanel(QMainWindow& window);
    void rememberTrafficShown(bool shown);
    void setPaused(bool paused);
    void refresh();
    // Totals, chart and stacks after a new report, or new recent records only.
    void countTraffic(const VDDataProcesser& processer, bool newReport);
    void addGrowth(const VDTunnelInfo& tunnel, const ByteCounts& growth);
    void countRows();

    ProcesserSource processer_;
    VDListPause* pause_ = nullptr;
    VDStatusFigures* figures_ = nullptr;
    QAction* pauseAction_ = nullptr;
    QAction* trafficAction_ = nullptr;
    VDTrafficPanel* trafficPanel_ = nullptr;
    // Growth by client and host since the last report handed to the panel.
    TrafficSample growth_;
    QHash<QString, QString> clientTitles_;
    ShownList shown_;
    QPointer<QAbstractItemModel> shownRows_;
    // Bytes moved since the window connected, which never go down.
    TrafficTotals totals_;
    std::size_t lastRecentSize_ = 0;
    std::uint64_t lastReport_ = 0;
    std::uint64_t pausedAtReport_ = 0;
    bool rowCountQueued_ = false;
    VDShownGeneration listsSeen_;
    // Last member: no report reaches an overview being destroyed.
    VDReloadObserver reports_;
};

} // namespace vd
