#pragma once

#include <QObject>

namespace vd {

// Cut, copy, paste and select-all for text controls. The menus have no Edit menu, so Ctrl+X/C/V/A
// would otherwise be free for menu shortcuts (Ctrl+A opens About). Installed on the application,
// it offers exactly-Ctrl+X/C/V/A to the focused line edit or text edit first: when that control
// can do the action it does it and the shortcut never fires; when it cannot (nothing selected,
// read-only, not selectable) the combination goes on to the menu as usual.
class Copypast : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace vd
