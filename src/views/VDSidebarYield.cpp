#include "VDSidebarYield.h"

#include <QEvent>
#include <QSplitter>

namespace vd {

VDSidebarYield::VDSidebarYield(QSplitter& split, int listRoom) : QObject(&split), split_(split), listRoom_(listRoom)
{
    split_.installEventFilter(this);
    connect(&split_, &QSplitter::splitterMoved, this, [this] {
        if (foldedWidth_ > 0 && split_.sizes().value(0) > 0) {
            foldedWidth_ = 0;
            heldOpen_ = true;
        }
    });
}

bool VDSidebarYield::eventFilter(QObject*, QEvent* event)
{
    // The split view shares out its new width in its own resize handling; this looks after it.
    if (event->type() == QEvent::Resize)
        QMetaObject::invokeMethod(this, &VDSidebarYield::fit, Qt::QueuedConnection);
    return false;
}

void VDSidebarYield::fit()
{
    const QList<int> sizes = split_.sizes();
    if (sizes.size() != 2 || !split_.isVisible())
        return;
    const int room = split_.width() - split_.handleWidth();
    if (heldOpen_) {
        // Until the window leaves room for both again.
        heldOpen_ = room - sizes[0] < listRoom_;
        return;
    }
    if (foldedWidth_ == 0 && sizes[0] > 0 && room - sizes[0] < listRoom_) {
        foldedWidth_ = sizes[0];
        split_.setSizes({0, room});
    } else if (foldedWidth_ > 0 && room - foldedWidth_ >= listRoom_) {
        split_.setSizes({foldedWidth_, room - foldedWidth_});
        foldedWidth_ = 0;
    }
}

} // namespace vd
