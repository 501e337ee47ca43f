#include "AppDelegate.h"

#include <algorithm>

#include <QMainWindow>
#include <QUrl>

#include "HarExportCommand.h"
#include "VDAboutWindowController.h"
#include "VDStartWindowController.h"
#include "VdVersion.h"
#include "data/VDDumpDataManager.h"
#include "data/VDEditorFiles.h"
#include "link/PTUSBHub.h"
#include "views/GuiThread.h"

namespace vd {

AppDelegate::AppDelegate(Options options, QObject* parent) : QObject(parent), options_(std::move(options))
{
    connect(&menu_, &AppMenu::aboutRequested, this, &AppDelegate::about);
    connect(&menu_, &AppMenu::connectRequested, this, &AppDelegate::showConnectWindow);
    connect(&menu_, &AppMenu::quitRequested, this, [this] { options_.quit(); });
    connect(&menu_, &AppMenu::hideRequested, this, &AppDelegate::hide);
    connect(&menu_, &AppMenu::showAllRequested, this, &AppDelegate::showAll);
}

AppDelegate::~AppDelegate()
{
    // Windows go away here without closing, so none of them triggers the closing rules; each
    // main window still ends its link on the way.
    windowControllers_.clear();
    localWindow_.reset();
    aboutWindow_.reset();
    connectWindow_.reset();
}

void AppDelegate::applicationDidFinishLaunching(const QStringList& urls)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    // The USB daemon is told in every message which program asks, and which build of it.
    PTUSBChannel::setApplicationIdentity("vantor-dashboard", VD_VERSION_TEXT);
    // Bodies of an earlier run belong to links that no longer exist. This comes before any
    // window, so no new body is ever caught by the clean-up.
    VDDumpDataManager::cleanDumpFolder();
    // Texts handed to an editor in an earlier run hold captured traffic too.
    VDEditorFiles::cleanFolder();
    openURLs(urls);
    if (!localWindow_)
        showConnectWindow();
}

void AppDelegate::openURLs(const QStringList& urls)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (!urls.isEmpty() && QUrl(urls.first()).host() == "local")
        createLocalWindow();
}

void AppDelegate::showConnectWindow()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (!connectWindow_) {
        connectWindow_ = std::make_unique<VDStartWindowController>(*this);
        watch(*connectWindow_);
        connectWindow_->loadWindow();
        menu_.addShortcutsTo(*connectWindow_->window());
    }
    connectWindow_->showWindow();
}

void AppDelegate::showConnectWindowFor(ConnectionKind kind, const QString& host, std::int64_t port)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    showConnectWindow();
    connectWindow_->fillIn(kind, host, port);
}

std::vector<VDMainWindowsController*> AppDelegate::mainWindows() const
{
    std::vector<VDMainWindowsController*> windows;
    if (localWindow_)
        windows.push_back(localWindow_.get());
    for (const auto& controller : windowControllers_)
        windows.push_back(controller.get());
    return windows;
}

void AppDelegate::hide()
{
    for (VDMainWindowsController* controller : mainWindows()) {
        if (QWidget* window = controller->window(); window && window->isVisible())
            window->showMinimized();
    }
}

void AppDelegate::showAll()
{
    for (VDMainWindowsController* controller : mainWindows()) {
        if (QWidget* window = controller->window(); window && window->isMinimized())
            window->showNormal();
    }
}

void AppDelegate::about()
{
    if (!aboutWindow_) {
        aboutWindow_ = std::make_unique<VDAboutWindowController>();
        watch(*aboutWindow_);
        aboutWindow_->loadWindow();
        menu_.addShortcutsTo(*aboutWindow_->window());
    }
    aboutWindow_->showWindow();
}

void AppDelegate::createLocalWindow()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (!localWindow_) {
        localWindow_ = makeMainWindow(WindowId::local());
        localWindow_->openLocalWindow(options_.localSocketPath);
    }
    localWindow_->showWindow();
}

void AppDelegate::createRemoteWindowWithHost(const std::string& host, std::int64_t port, const std::string& password)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    openRemote(WindowId::remote(host, port, password), [&](VDMainWindowsController& controller) {
        controller.openRemoteWindowWithHost(host, port, password);
    });
}

void AppDelegate::createRemoteWindowWithUSBPort(std::int64_t port, const std::string& password)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    openRemote(WindowId::usb(port, password), [&](VDMainWindowsController& controller) {
        controller.openRemoteWindowWithUSBPort(port, password);
    });
}

VDMainWindowsController* AppDelegate::openRemote(const WindowId& id, const std::function<void(VDMainWindowsController&)>& start)
{
    const auto found = std::find_if(windowControllers_.begin(), windowControllers_.end(), [&](const auto& controller) {
        return controller->type() == id.kind && controller->idString() == id.idString;
    });
    VDMainWindowsController* controller = nullptr;
    if (found != windowControllers_.end()) {
        // An open window is brought forward as it is: no second link, no reconnect.
        controller = found->get();
    } else {
        windowControllers_.push_back(makeMainWindow(id));
        controller = windowControllers_.back().get();
        start(*controller);
    }
    controller->showWindow();
    return controller;
}

std::unique_ptr<VDMainWindowsController> AppDelegate::makeMainWindow(const WindowId& id)
{
    auto controller = std::make_unique<VDMainWindowsController>(id.idString, options_.timing);
    watch(*controller);
    controller->loadWindow();
    auto* window = static_cast<QMainWindow*>(controller->window());
    window->setMenuBar(menu_.makeMenuBar(window, {controller->harExport()->action()}));
    controller->addViewMenu(*window->menuBar());
    connect(controller.get(), &VDMainWindowsController::connectWindowRequested, this, &AppDelegate::showConnectWindowFor);
    // Shown before it connects, so a link that fails at once has a window for its sheet.
    controller->showWindow();
    return controller;
}

void AppDelegate::watch(VDWindowController& controller)
{
    connect(&controller, &VDWindowController::windowWillClose, this, [this, &controller] { windowWillClose(&controller); });
}

void AppDelegate::windowWillClose(VDWindowController* closing)
{
    if (closing == localWindow_.get()) {
        retire(std::move(localWindow_));
        if (!hasMainWindow())
            showConnectWindow();
    } else if (closing == connectWindow_.get()) {
        retire(std::move(connectWindow_));
        // The connect window opens its choice before it closes, so a main window is already
        // here when the user connected; otherwise the user chose to leave.
        if (!hasMainWindow())
            options_.quit();
    } else if (closing == aboutWindow_.get()) {
        retire(std::move(aboutWindow_));
        if (!hasMainWindow())
            showConnectWindow();
    } else {
        const auto found = std::find_if(windowControllers_.begin(), windowControllers_.end(),
                                        [&](const auto& controller) { return controller.get() == closing; });
        if (found != windowControllers_.end()) {
            retire(std::move(*found));
            windowControllers_.erase(found);
        }
        if (!hasMainWindow())
            showConnectWindow();
    }
}

void AppDelegate::retire(std::unique_ptr<VDWindowController> controller)
{
    // Parented to us as well, so one still waiting when the program ends goes with us.
    VDWindowController* retired = controller.release();
    retired->setParent(this);
    retired->deleteLater();
}

} // namespace vd
