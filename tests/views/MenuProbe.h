#pragma once

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

// The menu's item with this text; null when it has none.
inline QAction* menuItem(const QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

} // namespace vd::test
