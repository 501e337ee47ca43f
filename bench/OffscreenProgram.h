#pragma once

// What the benchmarks of real windows share: the program set up as main() sets it up, but
// offscreen and with its settings, caches and dump files in a temporary folder of the run's
// own, and a wait that keeps the event loop turning.

#include <stdlib.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <utility>

#include <QApplication>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include "data/VDDumpDataManager.h"
#include "platform/MainQueue.h"
#include "platform/WorkPool.h"

namespace vd::bench {

class OffscreenProgram {
public:
    OffscreenProgram(int& argc, char** argv) : app_(prepared(argc), argv)
    {
        QApplication::setQuitOnLastWindowClosed(false);
        MainQueue::install([](Task task) { QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection); });
        VDDumpDataManager::setUpDumpFolderIn(folder());
    }
    // Background work (icons being loaded) is over before the toolkit is torn down.
    ~OffscreenProgram()
    {
        WorkPool::stopThreads();
        MainQueue::uninstall();
    }
    OffscreenProgram(const OffscreenProgram&) = delete;
    OffscreenProgram& operator=(const OffscreenProgram&) = delete;

    // The run's own folder, gone with it.
    std::string folder() const { return home_.path().toStdString(); }

private:
    int& prepared(int& argc)
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        // The offscreen platform's notes on every window shown would bury the figures.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        std::signal(SIGPIPE, SIG_IGN);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home_.path());
        setenv("XDG_CACHE_HOME", (folder() + "/caches").c_str(), 1);
        return argc;
    }

    QTemporaryDir home_;
    QApplication app_;
};

// Runs the event loop until `condition` holds; false when it did not within `limit`. The
// condition is looked at every 10 ms: a wait that spun would weigh on the GUI thread measured.
inline bool runEventsUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    if (condition())
        return true;
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    look.start(10);
    loop.exec();
    return condition();
}

// Runs the event loop for `duration`.
inline void runEventsFor(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace vd::bench
