#pragma once

#include <functional>

#include <QDialog>
#include <QString>

namespace vd {

// The two sheets a main window shows about its link. Both are window-modal over `window`,
// unopened (the caller opens them with open()) and delete themselves once closed. The actions
// run only on a button press, bound to `context`: dismissing a sheet from code triggers nothing.

// "Connecting...", a busy indicator and "Close".
QDialog* makeConnectingSheet(QWidget* window, QObject* context, std::function<void()> onClose);
// "Connect Closed", the reason when there is one, "Reconnect" (the default) and "Close".
QDialog* makeConnectClosedSheet(QWidget* window, const QString& reason, QObject* context,
                                std::function<void()> onReconnect, std::function<void()> onClose);

} // namespace vd
