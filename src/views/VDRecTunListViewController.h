#pragma once

#include "VDBaseTunnelListViewController.h"

namespace vd {

// The recent requests of a window: the processor's recent tunnels, reloaded on
// "kVDRecentTunnelRefreshed" and filtered by the recent section's client.
class VDRecTunListViewController : public VDBaseTunnelListViewController {
    Q_OBJECT
public:
    explicit VDRecTunListViewController(std::string idString, QWidget* parent = nullptr);

protected:
    TunnelList tunnelsOf(const VDDataProcesser& processer) const override;
    std::string clientFilterOf(const VDDataProcesser& processer) const override;
    // Shows what the processor holds, and always asks the service for newer records.
    void viewDidAppear(VDDataProcesser& processer) override;
};

} // namespace vd
