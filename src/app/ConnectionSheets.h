#pragma once

#include <functional>

#include <QDialog>
#include <QString>

namespace vd {

// The two sheets a main window shows about its link. Both are window-modal over `window`,
// unopened (the caller opens them with open()) and delete themselves once closed. The actions
// run only on a button press, bound to `context`: dismissing a sheet from code triggers nothing.
// The message is the label named "message", the reason "informativeText" and the line that
// says where and what to do "detailText"; empty texts are not shown.

// "Connecting...", a busy indicator, a detail line and "Close".
QDialog* makeConnectingSheet(QWidget* window, const QString& detail, QObject* context, std::function<void()> onClose);
// Changes the detail line of a sheet made here.
void setSheetDetail(QDialog& sheet, const QString& detail);

struct ConnectClosedActions {
    std::function<void()> reconnect;
    std::function<void()> close;
    // Offered as "Change Password..." when set: back to the connect window.
    std::function<void()> changePassword;
};

// "Connect Closed", the reason and the detail line, "Reconnect" (the default), the way back to
// the connect window when offered, and "Close" (also Escape).
QDialog* makeConnectClosedSheet(QWidget* window, const QString& reason, const QString& detail, QObject* context,
                                ConnectClosedActions actions);

} // namespace vd
