#pragma once

#include <cstdint>

#include "VDWindowController.h"
#include "WindowId.h"

namespace vd {

class VDStartViewController;
class WindowOpener;

// The connect window: fixed 560 x 500, titled "Vantor New Dashboard", centred. Build it with
// loadWindow(), then showWindow(). It hands the user's choice to the opener and then closes,
// which windowWillClose reports.
class VDStartWindowController : public VDWindowController {
    Q_OBJECT
public:
    explicit VDStartWindowController(WindowOpener& opener, QObject* parent = nullptr);

    void loadWindow() override;
    // See VDStartViewController::fillIn.
    void fillIn(ConnectionKind kind, const QString& host, std::int64_t port);

private:
    WindowOpener& opener_;
    VDStartViewController* startVC_ = nullptr;
};

} // namespace vd
