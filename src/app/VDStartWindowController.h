#pragma once

#include "VDWindowController.h"

namespace vd {

class WindowOpener;

// The connect window: fixed 560 x 500, titled "Vantor New Dashboard", centred. Build it with
// loadWindow(), then showWindow(). It hands the user's choice to the opener and then closes,
// which windowWillClose reports.
class VDStartWindowController : public VDWindowController {
    Q_OBJECT
public:
    explicit VDStartWindowController(WindowOpener& opener, QObject* parent = nullptr);

    void loadWindow() override;

private:
    WindowOpener& opener_;
};

} // namespace vd
