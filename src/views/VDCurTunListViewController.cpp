#include "VDCurTunListViewController.h"

#include "data/VDDataProcesser.h"
#include "data/VDNotifications.h"

namespace vd {

VDCurTunListViewController::VDCurTunListViewController(std::string idString, QWidget* parent)
    : VDBaseTunnelListViewController(std::move(idString), kVDCurrentTunnelRefreshed, VDListGenerations::current, parent)
{
}

TunnelList VDCurTunListViewController::tunnelsOf(const VDDataProcesser& processer) const
{
    return processer.currentTunnelInfos();
}

std::string VDCurTunListViewController::clientFilterOf(const VDDataProcesser& processer) const
{
    return processer.currentFilterBundleId();
}

void VDCurTunListViewController::viewDidAppear(VDDataProcesser& processer)
{
    if (!processer.currentTunnelInfos().empty())
        reloadData();
    if (mainArray().empty())
        processer.refreshCurrentRecord();
}

} // namespace vd
