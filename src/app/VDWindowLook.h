#pragma once

#include <QPixmap>
#include <QWidget>

namespace vd {

// The look shared by the small windows (connect, About): the program's icon, text sizes given
// in pixels so the fixed-size windows hold their content on any screen density, and the dimmed
// secondary text.

// The icon the application set for its windows (or a computer picture while none is set), at
// side x side pixels even where the icon has no image that large.
QPixmap applicationIconPixmap(int side);
void setTextPixelSize(QWidget& widget, int pixels);
// Secondary text: the window text colour at 60 % opacity.
void dimText(QWidget& widget);
// What the desktop adds around a top-level window's content (title bar, borders): known once it
// is shown, estimated from the style before, so a window sized to the screen's free area keeps
// its title bar on the screen.
QSize frameAllowance(const QWidget& window);
// Puts a top-level window, its frame with it, in the middle of the screen it is on.
void centreOnScreen(QWidget& window);

} // namespace vd
