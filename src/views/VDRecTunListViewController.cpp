#include "VDRecTunListViewController.h"

#include "data/VDDataProcesser.h"
#include "data/VDNotifications.h"

namespace vd {

VDRecTunListViewController::VDRecTunListViewController(std::string idString, QWidget* parent)
    : VDBaseTunnelListViewController(std::move(idString), kVDRecentTunnelRefreshed, VDListGenerations::recent, parent)
{
    setFollowsNewest(true);
}

TunnelList VDRecTunListViewController::tunnelsOf(const VDDataProcesser& processer) const
{
    return processer.recentTunnelInfos();
}

std::string VDRecTunListViewController::clientFilterOf(const VDDataProcesser& processer) const
{
    return processer.recentFilterBundleId();
}

void VDRecTunListViewController::viewDidAppear(VDDataProcesser& processer)
{
    if (!processer.recentTunnelInfos().empty())
        reloadData();
    processer.reloadRecentRecord();
}

} // namespace vd
