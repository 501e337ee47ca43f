#pragma once

#include <QAction>
#include <QObject>

class QMenuBar;

namespace vd {

// The program's two menus. One set of actions serves every window: each main window gets a
// menu bar made from them, and windows without one (connect, About) take their shortcuts.
// Ctrl stands for the Command key (Qt maps it so on macOS).
class AppMenu : public QObject {
    Q_OBJECT
public:
    explicit AppMenu(QObject* parent = nullptr);

    // `windowFileActions`: the window's own items of the File menu, after "Connect".
    QMenuBar* makeMenuBar(QWidget* parent, const QList<QAction*>& windowFileActions = {}) const;
    void addShortcutsTo(QWidget& window) const;

signals:
    void aboutRequested();
    void connectRequested();
    void quitRequested();
    void hideRequested();
    void showAllRequested();

private:
    QAction* about_;
    QAction* hide_;
    QAction* hideOthers_;
    QAction* showAll_;
    QAction* quit_;
    QAction* connect_;
    QAction* close_;
};

} // namespace vd
