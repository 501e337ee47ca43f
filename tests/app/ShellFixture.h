#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <QAbstractButton>
#include <QDialog>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "app/VDMainWindowsController.h"
#include "app/WindowId.h"
#include "data/VDDataManager.h"
#include "data/VDDumpDataManager.h"
#include "integration/SimHarness.h"
#include "support/TempDir.h"
#include "support/WidgetProbe.h"

namespace vd::test {

// Keeps the program's caches, dump folder and USB daemon socket inside one temporary folder for
// the whole test program: the dump folder is fixed at its first use, and start-up empties it.
class ShellEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        setenv("XDG_CACHE_HOME", (folder_ / "caches").c_str(), 1);
        setenv("USBMUXD_SOCKET_ADDRESS", (folder_ / "no-usbmuxd").c_str(), 1);
        VDDumpDataManager::setUpDumpFolderIn(folder_.path());
    }

private:
    TempDir folder_;
};

// Registered once for each test program that includes this, whichever of its files do.
inline const auto* const shellEnvironment = testing::AddGlobalTestEnvironment(new ShellEnvironment);

// A simulated service on a private socket and on TCP with the password "secret", and short
// timings, so a test sees the connecting check and the filter pause without long waits.
class ShellTest : public testing::Test {
protected:
    static constexpr const char* kPassword = "secret";

    static MainWindowTiming fastTiming() { return {std::chrono::milliseconds(200), std::chrono::milliseconds(30)}; }

    static sim::SimulatorOptions simulatorOptions(const TempDir& dir)
    {
        sim::SimulatorOptions options;
        options.socketPath = dir / "db.connect";
        options.tcpPort = 0;
        options.password = kPassword;
        options.tickInterval = std::chrono::milliseconds(50);
        return options;
    }

    static bool waitFor(const std::function<bool()>& predicate, int ms = 5000) { return QTest::qWaitFor(predicate, ms); }

    static std::unique_ptr<VDMainWindowsController> makeWindow(const WindowId& id)
    {
        auto window = std::make_unique<VDMainWindowsController>(id.idString, fastTiming());
        window->loadWindow();
        window->showWindow();
        return window;
    }

    // A window on the simulated service over TCP, and one on a local socket.
    std::unique_ptr<VDMainWindowsController> remoteWindow()
    {
        auto window = makeWindow(WindowId::remote("127.0.0.1", sim_.tcpPort(), kPassword));
        window->openRemoteWindowWithHost("127.0.0.1", sim_.tcpPort(), kPassword);
        return window;
    }
    static std::unique_ptr<VDMainWindowsController> localWindow(const std::filesystem::path& socket)
    {
        auto window = makeWindow(WindowId::local());
        window->openLocalWindow(socket.string());
        return window;
    }

    static std::shared_ptr<VDDataProcesser> processerOf(const VDMainWindowsController& window)
    {
        return VDDataManager::sharedInstance().getProcesserOfId(window.idString());
    }
    static bool connected(const VDMainWindowsController& window)
    {
        const auto processer = processerOf(window);
        return processer && processer->connectStatus() == ConnectStatus::connected;
    }

    // A text of the sheet on the window ("message", "informativeText" or "detailText"), or
    // empty while no sheet is shown.
    static QString sheetLabel(const VDMainWindowsController& window, const char* name)
    {
        QDialog* sheet = window.sheet();
        if (!sheet || !sheet->isVisible())
            return {};
        const auto* label = sheet->findChild<QLabel*>(name);
        return label && label->isVisibleTo(sheet) ? label->text() : QString();
    }
    static QString sheetText(const VDMainWindowsController& window) { return sheetLabel(window, "message"); }
    static QString sheetReason(const VDMainWindowsController& window) { return sheetLabel(window, "informativeText"); }
    static QString sheetDetail(const VDMainWindowsController& window) { return sheetLabel(window, "detailText"); }

    static QAbstractButton* sheetButton(const VDMainWindowsController& window, const QString& text)
    {
        return window.sheet() ? buttonTitled(*window.sheet(), text) : nullptr;
    }

    static int visibleDialogs(const VDMainWindowsController& window)
    {
        int count = 0;
        for (auto* dialog : window.window()->findChildren<QDialog*>())
            count += dialog->isVisible();
        return count;
    }

    TempDir dir_;
    SimHarness sim_{simulatorOptions(dir_)};
};

// The real delegate with its real windows; quitting is counted instead of done.
class DelegateTest : public ShellTest {
protected:
    // The window of the simulated service over TCP, opened as the connect window opens it, or
    // found again when one is open.
    VDMainWindowsController& openRemote(const std::string& password = kPassword)
    {
        delegate_.createRemoteWindowWithHost("127.0.0.1", sim_.tcpPort(), password);
        return *delegate_.windowControllers().front();
    }

    int quits_ = 0;
    AppDelegate delegate_{[this] {
        AppDelegate::Options options;
        options.localSocketPath = (dir_ / "db.connect").string();
        options.quit = [this] { ++quits_; };
        options.timing = fastTiming();
        return options;
    }()};
};

} // namespace vd::test
