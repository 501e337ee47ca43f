#pragma once

#include "VDBaseTunViewController.h"
#include "VDCurTunSectionViewController.h"
#include "VDCurTunTableViewController.h"

namespace vd {

// The active-connections section of a main window.
class VDCurTunViewController : public VDBaseTunViewController {
    Q_OBJECT
public:
    explicit VDCurTunViewController(std::string idString, QWidget* parent = nullptr)
        : VDBaseTunViewController(idString, VDTunnelVariant::current(), new VDCurTunSectionViewController(idString),
                                  new VDCurTunTableViewController(idString), parent)
    {
    }
};

} // namespace vd
