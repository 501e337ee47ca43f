#pragma once

#include "VDBaseToolViewController.h"

namespace vd {

// The tool strip of the recent requests: "Clean" first, then what the active connections have.
class VDRecTunToolViewController : public VDBaseToolViewController {
    Q_OBJECT
public:
    explicit VDRecTunToolViewController(QWidget* parent = nullptr) : VDBaseToolViewController(true, parent) {}
};

} // namespace vd
