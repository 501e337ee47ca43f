#include "VDTunnelVariant.h"

#include "data/VDDataProcesser.h"
#include "data/VDNotifications.h"

namespace vd {

const VDTunnelVariant& VDTunnelVariant::current()
{
    static const VDTunnelVariant variant{
        "Active Connections",
        kVDCurrentTunnelRefreshed,
        VDListGenerations::current,
        &VDDataProcesser::currentLocalProcess,
        &VDDataProcesser::currentRemoteProcess,
        &VDDataProcesser::currentFilterBundleId,
        &VDDataProcesser::setCurrentFilterBundleId,
        &VDDataProcesser::refreshCurrentRecord,
        nullptr,
        "com.lumenforge.vantordashboard.currenttunnel.splitview",
        "com.lumenforge.vantordashboard.currenttunnel.tableview",
    };
    return variant;
}

const VDTunnelVariant& VDTunnelVariant::recent()
{
    static const VDTunnelVariant variant{
        "Recent Requests",
        kVDRecentTunnelRefreshed,
        VDListGenerations::recent,
        &VDDataProcesser::recentLocalProcess,
        &VDDataProcesser::recentRemoteProcess,
        &VDDataProcesser::recentFilterBundleId,
        &VDDataProcesser::setRecentFilterBundleId,
        &VDDataProcesser::reloadRecentRecord,
        &VDDataProcesser::cleanRecentRecord,
        "com.lumenforge.vantordashboard.recenttunnel.splitview",
        "com.lumenforge.vantordashboard.recenttunnel.tableview",
    };
    return variant;
}

} // namespace vd
