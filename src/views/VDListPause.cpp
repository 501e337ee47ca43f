#include "VDListPause.h"

#include <QWidget>

namespace vd {

VDListPause::VDListPause(QObject* window) : QObject(window)
{
    setObjectName("listPause");
}

VDListPause* VDListPause::of(const QObject* widget)
{
    const auto* view = qobject_cast<const QWidget*>(widget);
    const QWidget* window = view ? view->window() : nullptr;
    return window ? window->findChild<VDListPause*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

void VDListPause::setPaused(bool paused)
{
    if (paused == paused_)
        return;
    paused_ = paused;
    emit pausedChanged(paused);
}

} // namespace vd
