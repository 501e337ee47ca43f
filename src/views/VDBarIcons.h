#pragma once

#include <QIcon>

class QWidget;

namespace vd {

// Icons of the small buttons in a list's bottom bar, in the colour of the button's text so they
// follow light and dark palettes.
QIcon removeIcon(const QWidget& button);
QIcon refreshIcon(const QWidget& button);

} // namespace vd
