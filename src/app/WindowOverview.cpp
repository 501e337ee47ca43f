#include "WindowOverview.h"

#include <chrono>

#include <QAbstractItemModel>
#include <QAction>
#include <QDockWidget>
#include <QEvent>
#include <QMainWindow>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include "AppSettings.h"
#include "data/VDDataProcesser.h"
#include "data/VDNotifications.h"
#include "data/VDTunnelInfo.h"
#include "views/VDListPause.h"
#include "views/VDStatusFigures.h"
#include "views/VDTrafficPanel.h"

namespace vd {
namespace {

// Whether the Traffic panel was last shown, for every window.
const char* const kTrafficShownKey = "com.lumenforge.vantordashboard.traffic.shown";

double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// What the stacks and the client filter know a client by: its app, else the address it came from.
std::string_view clientKeyOf(const VDTunnelInfo& tunnel)
{
    return tunnel.bundleIdentifier().empty() ? tunnel.fromHost() : tunnel.bundleIdentifier();
}

QString titleOf(const VDTunnelInfo& tunnel)
{
    const std::string_view title = tunnel.bundleIdentifier().empty() ? tunnel.fromHost() : tunnel.processName();
    return QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
}

// Titles are remembered for the clients seen; a service with endless clients starts them again.
constexpr qsizetype kMostClientTitles = 10000;

} // namespace

WindowOverview::WindowOverview(QMainWindow& window, const std::string& idString, ProcesserSource processer)
    : QObject(&window), processer_(std::move(processer)), pause_(new VDListPause(&window)),
      figures_(new VDStatusFigures(&window)), pauseAction_(new QAction("Pause", this)),
      // Every id of the recent list, however full, and as many again that left the active list.
      totals_(2 * VDDataProcesser::kMaxRecentRecords),
      listsSeen_(idString, {VDListGenerations::current, VDListGenerations::recent, VDListGenerations::dns, VDListGenerations::udp}),
      // The overview is no widget of the window, so the pause never holds its own refreshes.
      reports_(this, {kVDCurrentTunnelRefreshed, kVDRecentTunnelRefreshed, kVDDNSRefreshed, kVDUDPRefreshed}, listsSeen_,
               [this] { refresh(); })
{
    window.statusBar()->addPermanentWidget(figures_);
    pauseAction_->setCheckable(true);
    pauseAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(pauseAction_, &QAction::toggled, this, &WindowOverview::setPaused);
    connect(figures_->pauseSwitch(), &QToolButton::toggled, this, &WindowOverview::setPaused);
    figures_->showActive(0, 0, 0);
    figures_->showRows(0, 0);
    figures_->showTotals(0, 0);
    installTrafficPanel(window);
}

void WindowOverview::installTrafficPanel(QMainWindow& window)
{
    trafficPanel_ = new VDTrafficPanel;
    trafficPanel_->setClientTitles([this](const QString& key) { return clientTitles_.value(key, key); });
    connect(trafficPanel_, &VDTrafficPanel::clientChosen, this, &WindowOverview::clientChosen);
    connect(trafficPanel_, &VDTrafficPanel::hostChosen, this, [this](const QString& host) {
        if (const auto processer = processer_())
            processer->setFilterString(host.toStdString());
    });
    auto* dock = new QDockWidget("Traffic", &window);
    dock->setObjectName("trafficDock");
    dock->setWidget(trafficPanel_);
    dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    window.addDockWidget(Qt::BottomDockWidgetArea, dock);
    dock->setVisible(appSettings()->value(kTrafficShownKey, false).toBool());
    trafficAction_ = dock->toggleViewAction();
    trafficAction_->setText("Traffic");
    // Only the user's choice is remembered: closing the window hides the panel too.
    connect(trafficAction_, &QAction::triggered, this, &WindowOverview::rememberTrafficShown);
    dock->installEventFilter(this);
}

bool WindowOverview::eventFilter(QObject* watched, QEvent* event)
{
    // The panel's own close button.
    if (event->type() == QEvent::Close && watched->objectName() == "trafficDock")
        rememberTrafficShown(false);
    return QObject::eventFilter(watched, event);
}

void WindowOverview::rememberTrafficShown(bool shown)
{
    const auto settings = appSettings();
    settings->setValue(kTrafficShownKey, shown);
    syncAppSettings(*settings);
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
    // Taken before anything is read: a report stamped later is heard again.
    if (const auto generation = listsSeen_.behind())
        listsSeen_.shown(*generation);
    const auto processer = processer_();
    if (!processer)
        return;
    const std::uint64_t report = processer->activeReportCount();
    const std::size_t recentSize = processer->listSizes().recent;
    const bool newReport = report != lastReport_;
    lastReport_ = report;
    // Counted while paused too: the totals and the chart are of the service, not of the rows.
    if (newReport || recentSize != std::exchange(lastRecentSize_, recentSize))
        countTraffic(*processer, newReport);
    if (pause_->isPaused())
        figures_->showHeld(true, report - pausedAtReport_);
    else
        countRows();
}

void WindowOverview::countTraffic(const VDDataProcesser& processer, bool newReport)
{
    const TunnelList active = processer.currentTunnelInfos();
    totals_.update(active, processer.recentTunnelInfos(), processer.initTime(),
                   [this](const VDTunnelInfo& tunnel, const ByteCounts& growth) { addGrowth(tunnel, growth); });
    const ByteCounts& bytes = totals_.counts().bytes;
    figures_->showTotals(static_cast<std::int64_t>(bytes.sent), static_cast<std::int64_t>(bytes.received));
    if (!newReport)
        return;
    TrafficSample sample = std::exchange(growth_, {});
    for (const auto& tunnel : active) {
        sample.upload += tunnel->tx_speed();
        sample.download += tunnel->rx_speed();
    }
    sample.time = steadySeconds();
    trafficPanel_->addReport(sample);
    if (!pause_->isPaused())
        figures_->showActive(active.size(), sample.upload, sample.download);
}

void WindowOverview::addGrowth(const VDTunnelInfo& tunnel, const ByteCounts& growth)
{
    const auto moved = static_cast<std::int64_t>(growth.sent + growth.received);
    const std::string_view client = clientKeyOf(tunnel);
    auto [entry, added] = growth_.clientGrowth.try_emplace(std::string(client), 0);
    entry->second += moved;
    growth_.hostGrowth[std::string(tunnel.host())] += moved;
    if (!added)
        return;
    const QString key = QString::fromUtf8(client.data(), static_cast<qsizetype>(client.size()));
    if (clientTitles_.contains(key))
        return;
    if (clientTitles_.size() >= kMostClientTitles)
        clientTitles_.clear();
    clientTitles_.insert(key, titleOf(tunnel));
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
