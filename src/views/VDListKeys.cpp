#include "VDListKeys.h"

#include <optional>

#include <QAbstractItemView>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>

namespace vd {
namespace {

bool isMenuKey(const QKeyEvent& key)
{
    return (key.key() == Qt::Key_Menu && key.modifiers() == Qt::NoModifier) ||
           (key.key() == Qt::Key_F10 && key.modifiers() == Qt::ShiftModifier);
}

// Ctrl+Tab forward; Ctrl+Shift+Tab arrives as Backtab or as Tab with Shift, by platform.
std::optional<bool> ctrlTabForward(const QKeyEvent& key)
{
    const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::ShiftModifier;
    if (modifiers != Qt::ControlModifier || (key.key() != Qt::Key_Tab && key.key() != Qt::Key_Backtab))
        return std::nullopt;
    return key.key() == Qt::Key_Tab && !(key.modifiers() & Qt::ShiftModifier);
}

class ListKeys : public QObject {
public:
    explicit ListKeys(QAbstractItemView& view) : QObject(&view), view_(view) { view.installEventFilter(this); }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            if (const auto forward = ctrlTabForward(*static_cast<QKeyEvent*>(event))) {
                // Exactly what Tab or Shift+Tab does here, since the view lets them leave.
                QKeyEvent plain(QEvent::KeyPress, *forward ? Qt::Key_Tab : Qt::Key_Backtab,
                                *forward ? Qt::NoModifier : Qt::ShiftModifier);
                QCoreApplication::sendEvent(&view_, &plain);
                return true;
            }
        }
        const bool asked = (event->type() == QEvent::ContextMenu &&
                            static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) ||
                           (event->type() == QEvent::KeyPress && isMenuKey(*static_cast<QKeyEvent*>(event)));
        if (!asked)
            return false;
        const QModelIndex row = view_.currentIndex();
        if (row.isValid()) {
            view_.scrollTo(row);
            emit view_.customContextMenuRequested(view_.visualRect(row).center());
        }
        return true;
    }

private:
    QAbstractItemView& view_;
};

} // namespace

void addListKeys(QAbstractItemView& view)
{
    new ListKeys(view);
}

} // namespace vd
