#pragma once

#include "VDBaseTunnelViewController.h"
#include "VDCurTunListViewController.h"
#include "VDCurTunToolViewController.h"

namespace vd {

// The tunnel area of the active connections.
class VDCurTunTableViewController : public VDBaseTunnelViewController {
    Q_OBJECT
public:
    explicit VDCurTunTableViewController(std::string idString, QWidget* parent = nullptr)
        : VDBaseTunnelViewController(idString, VDTunnelVariant::current(), new VDCurTunListViewController(idString),
                                     new VDCurTunToolViewController, parent)
    {
    }
};

} // namespace vd
