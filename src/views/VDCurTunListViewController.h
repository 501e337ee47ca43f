#pragma once

#include "VDBaseTunnelListViewController.h"

namespace vd {

// The active connections of a window: the processor's current tunnels, reloaded on
// "kVDCurrentTunnelRefreshed" and filtered by the current section's client.
class VDCurTunListViewController : public VDBaseTunnelListViewController {
    Q_OBJECT
public:
    explicit VDCurTunListViewController(std::string idString, QWidget* parent = nullptr);

protected:
    TunnelList tunnelsOf(const VDDataProcesser& processer) const override;
    std::string clientFilterOf(const VDDataProcesser& processer) const override;
    // Shows what the processor holds, and asks the service when that is nothing.
    void viewDidAppear(VDDataProcesser& processer) override;
};

} // namespace vd
