#include "VDLabel.h"

namespace vd {

VDLabel::VDLabel(QWidget* parent) : QLineEdit(parent)
{
    setReadOnly(true);
    setFrame(false);
    setFocusPolicy(Qt::ClickFocus);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    // The box behind it shows through; a read-only line edit would otherwise paint its base.
    setStyleSheet("QLineEdit { background: transparent; border: none; padding: 0px; }");
    QFont font = this->font();
    font.setPixelSize(13);
    setFont(font);
}

void VDLabel::setText(const QString& text)
{
    if (text == this->text())
        return;
    QLineEdit::setText(text);
    // A long value starts at its beginning rather than scrolled to its end.
    setCursorPosition(0);
}

} // namespace vd
