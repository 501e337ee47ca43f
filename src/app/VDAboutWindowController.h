#pragma once

#include "VDWindowController.h"

namespace vd {

// The About window: fixed 500 x 300, kept above the other windows, centred. Build it with
// loadWindow(), then showWindow().
class VDAboutWindowController : public VDWindowController {
    Q_OBJECT
public:
    using VDWindowController::VDWindowController;

    void loadWindow() override;
};

} // namespace vd
