#pragma once

#include <functional>

#include <QWidget>

#include "VDTopTalkers.h"
#include "VDTrafficSample.h"

namespace vd {

class VDTopTalkersList;
class VDTrafficChart;

// The "Traffic" panel: the bandwidth chart on top, and under it the five clients and the five
// hosts that moved the most bytes in the last ten minutes. It knows nothing of where reports
// come from; its owner hands it one sample per report and acts on the rows chosen.
class VDTrafficPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTopCount = 5;

    explicit VDTrafficPanel(QWidget* parent = nullptr);

    // On the GUI thread, once per report. While the panel is hidden the chart and the sums keep
    // up, and the stacks are filled when it is shown.
    void addReport(const TrafficSample& sample);

    // The text a client row shows for a client name (by default the name itself); the row still
    // hands on the name when chosen.
    void setClientTitles(std::function<QString(const QString& client)> title);

    VDTrafficChart* chart() const { return chart_; }
    VDTopTalkersList* topClients() const { return topClients_; }
    VDTopTalkersList* topHosts() const { return topHosts_; }

signals:
    void clientChosen(const QString& client);
    void hostChosen(const QString& host);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refreshStacks();

    VDTrafficChart* chart_;
    VDTopTalkersList* topClients_;
    VDTopTalkersList* topHosts_;
    VDTopTalkers clients_;
    VDTopTalkers hosts_;
    std::function<QString(const QString&)> clientTitle_;
    // Set while hidden: the stacks are brought up to date when shown rather than per report.
    bool stacksBehind_ = false;
};

} // namespace vd
