#include "VDStartWindowController.h"

#include <QVBoxLayout>

#include "VDStartViewController.h"
#include "VDWindowLook.h"

namespace vd {

VDStartWindowController::VDStartWindowController(WindowOpener& opener, QObject* parent)
    : VDWindowController(parent)
    , opener_(opener)
{
}

void VDStartWindowController::loadWindow()
{
    auto* window = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                            Qt::WindowCloseButtonHint);
    window->setWindowTitle("Vantor New Dashboard");
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new VDStartViewController(opener_, window));
    window->setFixedSize(560, 500);
    centreOnScreen(*window);
    setWindow(window);
}

} // namespace vd
