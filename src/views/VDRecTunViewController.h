#pragma once

#include "VDBaseTunViewController.h"
#include "VDRecTunSectionViewController.h"
#include "VDRecTunTableViewController.h"

namespace vd {

// The recent-requests section of a main window.
class VDRecTunViewController : public VDBaseTunViewController {
    Q_OBJECT
public:
    explicit VDRecTunViewController(std::string idString, QWidget* parent = nullptr)
        : VDBaseTunViewController(idString, VDTunnelVariant::recent(), new VDRecTunSectionViewController(idString),
                                  new VDRecTunTableViewController(idString), parent)
    {
    }
};

} // namespace vd
