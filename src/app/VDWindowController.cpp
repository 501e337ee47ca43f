#include "VDWindowController.h"

#include <QEvent>

#include "views/GuiThread.h"

namespace vd {

VDWindowController::~VDWindowController()
{
    delete window_.data();
}

void VDWindowController::showWindow()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (!window_)
        return;
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void VDWindowController::close()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (window_)
        window_->close();
}

void VDWindowController::setWindow(QWidget* window)
{
    delete window_.data();
    window_ = window;
    if (window_)
        window_->installEventFilter(this);
}

bool VDWindowController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window_ && event->type() == QEvent::Close && window_->isVisible())
        emit windowWillClose(window_);
    return QObject::eventFilter(watched, event);
}

} // namespace vd
