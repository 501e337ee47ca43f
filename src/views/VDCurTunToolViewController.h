#pragma once

#include "VDBaseToolViewController.h"

namespace vd {

// The tool strip of the active connections: "Reload" and the two switches.
class VDCurTunToolViewController : public VDBaseToolViewController {
    Q_OBJECT
public:
    explicit VDCurTunToolViewController(QWidget* parent = nullptr) : VDBaseToolViewController(false, parent) {}
};

} // namespace vd
