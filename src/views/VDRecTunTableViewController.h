#pragma once

#include "VDBaseTunnelViewController.h"
#include "VDRecTunListViewController.h"
#include "VDRecTunToolViewController.h"

namespace vd {

// The tunnel area of the recent requests, whose strip also has "Clean".
class VDRecTunTableViewController : public VDBaseTunnelViewController {
    Q_OBJECT
public:
    explicit VDRecTunTableViewController(std::string idString, QWidget* parent = nullptr)
        : VDBaseTunnelViewController(idString, VDTunnelVariant::recent(), new VDRecTunListViewController(idString),
                                     new VDRecTunToolViewController, parent)
    {
    }
};

} // namespace vd
