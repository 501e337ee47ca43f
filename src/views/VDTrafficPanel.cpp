#include "VDTrafficPanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "VDTopTalkersList.h"
#include "VDTrafficChart.h"

namespace vd {
namespace {

// A stack under its title, the title being the stack's label for screen readers too.
QVBoxLayout* titled(const QString& title, VDTopTalkersList* list)
{
    auto* label = new QLabel(title);
    label->setBuddy(list);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    column->addWidget(label);
    column->addWidget(list);
    return column;
}

std::vector<VDTopTalkersModel::Row> rowsOf(const std::vector<VDTopTalkers::Entry>& entries,
                                           const std::function<QString(const QString&)>& title)
{
    std::vector<VDTopTalkersModel::Row> rows;
    rows.reserve(entries.size());
    for (const auto& [name, bytes] : entries) {
        const QString text = QString::fromStdString(name);
        rows.push_back({text, title ? title(text) : text, bytes});
    }
    return rows;
}

} // namespace

VDTrafficPanel::VDTrafficPanel(QWidget* parent)
    : QWidget(parent), chart_(new VDTrafficChart), topClients_(new VDTopTalkersList("Top Clients", kTopCount)),
      topHosts_(new VDTopTalkersList("Top Hosts", kTopCount))
{
    setAccessibleName("Traffic");
    auto* stacks = new QHBoxLayout;
    stacks->addLayout(titled("Top Clients", topClients_));
    stacks->addLayout(titled("Top Hosts", topHosts_));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(chart_, 1);
    layout->addLayout(stacks);
    setTabOrder(chart_, topClients_);
    setTabOrder(topClients_, topHosts_);
    connect(topClients_, &VDTopTalkersList::chosen, this, &VDTrafficPanel::clientChosen);
    connect(topHosts_, &VDTopTalkersList::chosen, this, &VDTrafficPanel::hostChosen);
}

void VDTrafficPanel::addReport(const TrafficSample& sample)
{
    chart_->append({sample.time, sample.upload, sample.download});
    clients_.add(sample.time, sample.clientGrowth);
    hosts_.add(sample.time, sample.hostGrowth);
    if (isVisible())
        refreshStacks();
    else
        stacksBehind_ = true;
}

void VDTrafficPanel::setClientTitles(std::function<QString(const QString& client)> title)
{
    clientTitle_ = std::move(title);
    refreshStacks();
}

void VDTrafficPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (stacksBehind_)
        refreshStacks();
}

void VDTrafficPanel::refreshStacks()
{
    topClients_->talkers().setRows(rowsOf(clients_.top(kTopCount), clientTitle_));
    topHosts_->talkers().setRows(rowsOf(hosts_.top(kTopCount), {}));
    stacksBehind_ = false;
}

} // namespace vd
