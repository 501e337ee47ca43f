#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QMenu>
#include <QStringList>

namespace vd::test {

// The menu's items as shown, "-" for a separator.
inline QStringList menuTexts(const QMenu& menu)
{
    QStringList texts;
    for (const QAction* action : menu.actions())
        texts << (action->isSeparator() ? "-" : action->text());
    return texts;
}

// The menu's item with this text, read without its "&" marks; null when it has none.
inline QAction* menuItem(const QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions()) {
        if (QString(action->text()).remove(QLatin1Char('&')) == text)
            return action;
    }
    return nullptr;
}

// The button inside `root` with this text; null when there is none.
template <typename Button = QAbstractButton>
Button* buttonTitled(const QWidget& root, const QString& text)
{
    for (Button* button : root.findChildren<Button*>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

} // namespace vd::test
