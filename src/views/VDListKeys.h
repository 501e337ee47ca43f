#pragma once

class QAbstractItemView;

namespace vd {

// The keys a list answers beyond an item view's own:
// - the Menu key and Shift+F10 open its context menu at the current row, through the same
//   customContextMenuRequested (viewport coordinates) a right click emits, so each view keeps
//   one menu handler;
// - Ctrl+Tab and Ctrl+Shift+Tab move the focus on, as in text views, where an item view would
//   swallow them.
void addListKeys(QAbstractItemView& view);

} // namespace vd
