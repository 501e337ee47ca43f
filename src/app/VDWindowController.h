#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace vd {

// Owns one top-level window. The application learns that a window is about to close through
// windowWillClose, whatever the route: title bar, menu, a button, or quitting.
class VDWindowController : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~VDWindowController() override;

    // Builds the window; a controller's window exists only after this.
    virtual void loadWindow() = 0;
    QWidget* window() const { return window_; }
    // Shows the window, brings it to the front and makes it the one receiving keys.
    void showWindow();
    void close();

signals:
    void windowWillClose(QWidget* window);

protected:
    // Takes ownership of a top-level window. Our windows never refuse to close, so a close
    // event is the moment the window goes.
    void setWindow(QWidget* window);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> window_;
};

} // namespace vd
