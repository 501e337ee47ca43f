#include "VDUDPTunListViewController.h"

#include <algorithm>

#include <QVBoxLayout>

#include "GuiThread.h"
#include "VDTunnelFilter.h"
#include "data/VDDataManager.h"
#include "data/VDNotifications.h"

namespace vd {

VDUDPTunListViewController::VDUDPTunListViewController(std::string idString, QWidget* parent)
    : QWidget(parent),
      idString_(std::move(idString)),
      model_(new Model(this)),
      tableView_(new VDRecordTableView(VDUDPColumns::kColumns, this)),
      shown_(idString_, {VDListGenerations::udp, VDListGenerations::filters}),
      reloads_(this, {kVDFilterStringChanged, kVDUDPRefreshed}, shown_, [this] { reloadData(); })
{
    resize(1000, 600);
    tableView_->setModel(model_);
    tableView_->setAccessibleName("UDP");
    tableView_->rememberColumnsAs("com.lumenforge.vantordashboard.udp.tableview");
    tableView_->setSelectionMode(QAbstractItemView::NoSelection);
    // The table scrolls inside however low the window is made.
    setMinimumHeight(kMinimumHeight);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tableView_);
}

std::shared_ptr<VDDataProcesser> VDUDPTunListViewController::processer() const
{
    return VDDataManager::sharedInstance().getProcesserOfId(idString_);
}

void VDUDPTunListViewController::reloadData()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (!viewAppeared_)
        return;
    const auto generation = shown_.behind();
    if (!generation)
        return;
    const auto source = processer();
    if (!source)
        return;
    UDPList rows = source->udpTunnelInfos();
    if (const std::string filter = source->filterString(); !filter.empty()) {
        // The destination only: a client address never matches.
        const std::string needle = foldForSearch(filter);
        std::erase_if(rows, [&](const auto& r) { return foldForSearch(r->host()).find(needle) == std::string::npos; });
    }
    const auto place = tableView_->keepPlace();
    model_->setRows(model_->sorted(std::move(rows)));
    shown_.shown(*generation);
}

void VDUDPTunListViewController::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    viewAppeared_ = true;
    if (const auto source = processer())
        source->autoUDPRefresh(true);
}

void VDUDPTunListViewController::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    viewAppeared_ = false;
    if (const auto source = processer())
        source->autoUDPRefresh(false);
}

} // namespace vd
