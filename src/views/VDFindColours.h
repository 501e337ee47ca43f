#pragma once

#include <QColor>
#include <QPalette>

namespace vd {

// Matches other than the current one: the selection colour, thinned so the text reads through
// it on light and dark palettes alike. The current match is drawn as selected text.
inline QColor findMatchColour(const QPalette& palette)
{
    QColor colour = palette.color(QPalette::Highlight);
    colour.setAlpha(90);
    return colour;
}

} // namespace vd
