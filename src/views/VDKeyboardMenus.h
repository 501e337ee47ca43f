#pragma once

class QAbstractItemView;

namespace vd {

// Lets the keyboard open an item view's context menu: the Menu key and Shift+F10 ask for it at
// the current row, through the same customContextMenuRequested (viewport coordinates) a right
// click emits, so each view keeps one menu handler.
void openContextMenusFromKeyboard(QAbstractItemView& view);

} // namespace vd
