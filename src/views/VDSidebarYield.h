#pragma once

#include <QObject>

class QSplitter;

namespace vd {

// In a window made narrow, a split view's sidebar (its first pane) gives way before the list
// beside it: folded away once the list would get less than the room it asks for, opened again
// at its width once the window leaves room for both. Neither is remembered as the layout. A
// sidebar the user opens by dragging while it is folded stays open, however narrow the window,
// until the window has room for both again.
class VDSidebarYield : public QObject {
    Q_OBJECT
public:
    // Owned by the split view.
    VDSidebarYield(QSplitter& split, int listRoom);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fit();

    QSplitter& split_;
    const int listRoom_;
    // The sidebar's width while it is folded away by this; 0 otherwise.
    int foldedWidth_ = 0;
    bool heldOpen_ = false;
};

} // namespace vd
