#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QObject>
#include <QStringList>

#include "AppMenu.h"
#include "VDMainWindowsController.h"
#include "WindowOpener.h"

namespace vd {

class VDAboutWindowController;
class VDStartWindowController;

// The one owner of the program's windows: the connect window, the About window, the main window
// of the service on this computer and the main windows of remote and USB services. It opens main
// windows (or brings forward the one with the same id) and decides what follows when a window
// closes: the connect window comes back, or the program quits. Main thread only.
class AppDelegate : public QObject, public WindowOpener {
    Q_OBJECT
public:
    struct Options {
        // The local service's socket; empty: its usual place.
        std::string localSocketPath;
        // How the program quits; tests watch it instead.
        std::function<void()> quit = [] { QCoreApplication::quit(); };
        VDMainWindowsController::Timing timing;
    };

    explicit AppDelegate(Options options, QObject* parent = nullptr);
    // Closes no window (nothing is decided any more), but every main window ends its link.
    ~AppDelegate() override;

    // Start-up, with the URLs the program was launched with.
    void applicationDidFinishLaunching(const QStringList& urls = {});
    // Only the first URL counts; its host "local" opens the local main window.
    void openURLs(const QStringList& urls);

    void showConnectWindow();
    // The connect window, with a link's kind, host and port filled in and no password.
    void showConnectWindowFor(ConnectionKind kind, const QString& host, std::int64_t port);
    void about();
    // Hide minimises the main windows only: the connect and About windows stay on screen.
    void hide();
    void showAll();
    void createLocalWindow() override;
    void createRemoteWindowWithHost(const std::string& host, std::int64_t port, const std::string& password) override;
    void createRemoteWindowWithUSBPort(std::int64_t port, const std::string& password) override;

    VDStartWindowController* connectWindow() const { return connectWindow_.get(); }
    VDAboutWindowController* aboutWindow() const { return aboutWindow_.get(); }
    VDMainWindowsController* localWindow() const { return localWindow_.get(); }
    const std::vector<std::unique_ptr<VDMainWindowsController>>& windowControllers() const { return windowControllers_; }

private:
    std::unique_ptr<VDMainWindowsController> makeMainWindow(const WindowId& id);
    VDMainWindowsController* openRemote(const WindowId& id, const std::function<void(VDMainWindowsController&)>& start);
    void watch(VDWindowController& controller);
    void windowWillClose(VDWindowController* closing);
    bool hasMainWindow() const { return localWindow_ || !windowControllers_.empty(); }
    std::vector<VDMainWindowsController*> mainWindows() const;
    // A controller leaves the registry while its window is still closing; it goes once that
    // event is over.
    void retire(std::unique_ptr<VDWindowController> controller);

    Options options_;
    AppMenu menu_;
    std::unique_ptr<VDStartWindowController> connectWindow_;
    std::unique_ptr<VDAboutWindowController> aboutWindow_;
    std::unique_ptr<VDMainWindowsController> localWindow_;
    std::vector<std::unique_ptr<VDMainWindowsController>> windowControllers_;
};

} // namespace vd
