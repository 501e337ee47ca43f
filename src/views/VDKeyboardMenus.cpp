#include "VDKeyboardMenus.h"

#include <QAbstractItemView>
#include <QContextMenuEvent>
#include <QKeyEvent>

namespace vd {
namespace {

bool isMenuKey(const QKeyEvent& key)
{
    return (key.key() == Qt::Key_Menu && key.modifiers() == Qt::NoModifier) ||
           (key.key() == Qt::Key_F10 && key.modifiers() == Qt::ShiftModifier);
}

class KeyboardMenus : public QObject {
public:
    explicit KeyboardMenus(QAbstractItemView& view) : QObject(&view), view_(view) { view.installEventFilter(this); }

    bool eventFilter(QObject*, QEvent* event) override
    {
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

void openContextMenusFromKeyboard(QAbstractItemView& view)
{
    new KeyboardMenus(view);
}

} // namespace vd
