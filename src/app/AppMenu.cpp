#include "AppMenu.h"

#include <QApplication>
#include <QMenuBar>
#include <QWidget>

namespace vd {
namespace {

QAction* makeAction(QObject* parent, const QString& text, const QKeySequence& key = {})
{
    auto* action = new QAction(text, parent);
    action->setShortcut(key);
    return action;
}

} // namespace

AppMenu::AppMenu(QObject* parent)
    : QObject(parent),
      about_(makeAction(this, "&About", Qt::CTRL | Qt::Key_A)),
      hide_(makeAction(this, "&Hide", Qt::CTRL | Qt::Key_H)),
      hideOthers_(makeAction(this, "Hide &Others", Qt::CTRL | Qt::SHIFT | Qt::Key_H)),
      showAll_(makeAction(this, "Show &All")),
      quit_(makeAction(this, "&Quit", Qt::CTRL | Qt::Key_Q)),
      connect_(makeAction(this, "&Connect to other device", Qt::CTRL | Qt::Key_N)),
      close_(makeAction(this, "&Close", Qt::CTRL | Qt::Key_W))
{
    // Hiding maps to minimising; this desktop cannot hide other programs' windows.
    hideOthers_->setEnabled(false);

    connect(about_, &QAction::triggered, this, &AppMenu::aboutRequested);
    connect(connect_, &QAction::triggered, this, &AppMenu::connectRequested);
    connect(quit_, &QAction::triggered, this, &AppMenu::quitRequested);
    connect(hide_, &QAction::triggered, this, &AppMenu::hideRequested);
    connect(showAll_, &QAction::triggered, this, &AppMenu::showAllRequested);
    connect(close_, &QAction::triggered, this, [] {
        if (QWidget* window = QApplication::activeWindow())
            window->close();
    });
}

QMenuBar* AppMenu::makeMenuBar(QWidget* parent, const QList<QAction*>& windowFileActions) const
{
    auto* bar = new QMenuBar(parent);
    QMenu* application = bar->addMenu("Vantor &Dashboard");
    application->addAction(about_);
    application->addSeparator();
    application->addAction(hide_);
    application->addAction(hideOthers_);
    application->addAction(showAll_);
    application->addSeparator();
    application->addAction(quit_);

    QMenu* file = bar->addMenu("&File");
    file->addAction(connect_);
    if (!windowFileActions.isEmpty()) {
        file->addSeparator();
        file->addActions(windowFileActions);
    }
    file->addSeparator();
    file->addAction(close_);
    return bar;
}

void AppMenu::addShortcutsTo(QWidget& window) const
{
    window.addActions({about_, hide_, showAll_, quit_, connect_, close_});
}

} // namespace vd
