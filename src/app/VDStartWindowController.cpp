#include "VDStartWindowController.h"

#include <QVBoxLayout>

#include "VDStartViewController.h"
#include "VDWindowLook.h"
#include "views/GuiThread.h"

namespace vd {

VDStartWindowController::VDStartWindowController(WindowOpener& opener, QObject* parent)
    : VDWindowController(parent)
    , opener_(opener)
{
}

void VDStartWindowController::loadWindow()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    auto* window = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                            Qt::WindowCloseButtonHint);
    window->setWindowTitle("Vantor New Dashboard");
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    startVC_ = new VDStartViewController(opener_, window);
    layout->addWidget(startVC_);
    window->setFixedSize(560, 500);
    centreOnScreen(*window);
    setWindow(window);
}

void VDStartWindowController::fillIn(ConnectionKind kind, const QString& host, std::int64_t port)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (startVC_)
        startVC_->fillIn(kind, host, port);
}

} // namespace vd
