#include "VDFilterField.h"

#include <QIcon>
#include <QKeyEvent>
#include <QToolButton>

namespace vd {

VDFilterField::VDFilterField(QWidget* parent, std::chrono::milliseconds pause) : QLineEdit(parent)
{
    setPlaceholderText("Filter");
    setAccessibleName("Filter");
    setClearButtonEnabled(true);
    // The field's own clear button comes unnamed; a screen reader would announce a bare button.
    for (auto* clear : findChildren<QToolButton*>())
        clear->setAccessibleName("Clear Filter");
    setMaximumWidth(200);
    // No completer: a QLineEdit has none unless one is set.
    const QIcon searchIcon = QIcon::fromTheme("edit-find");
    if (!searchIcon.isNull())
        addAction(searchIcon, QLineEdit::LeadingPosition);

    pause_.setSingleShot(true);
    pause_.setInterval(pause);
    connect(&pause_, &QTimer::timeout, this, [this] { emit filterEdited(text()); });
    // textEdited, not textChanged: only the user's edits count (the clear button included).
    connect(this, &QLineEdit::textEdited, this, &VDFilterField::edited);
}

void VDFilterField::keyPressEvent(QKeyEvent* event)
{
    // Escape empties the filter as the clear button does; in an empty field it goes on to the
    // window.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && !text().isEmpty()) {
        clear();
        edited(QString());
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void VDFilterField::edited(const QString& text)
{
    if (text.isEmpty()) {
        pause_.stop();
        emit filterEdited(text);
    } else {
        pause_.start();
    }
}

} // namespace vd
