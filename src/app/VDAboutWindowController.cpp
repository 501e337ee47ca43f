#include "VDAboutWindowController.h"

#include <QShortcut>
#include <QVBoxLayout>

#include "VDAboutViewController.h"
#include "VDWindowLook.h"
#include "views/GuiThread.h"

namespace vd {

void VDAboutWindowController::loadWindow()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    auto* window = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                            Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new VDAboutViewController(window));
    window->setFixedSize(500, 300);
    connect(new QShortcut(Qt::Key_Escape, window), &QShortcut::activated, window, &QWidget::close);
    centreOnScreen(*window);
    setWindow(window);
}

} // namespace vd
