#include <csignal>

#include <QApplication>
#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "platform/MainQueue.h"
#include "platform/WorkPool.h"

// Widget tests: an offscreen QApplication on this thread, the main queue posting through its
// event loop, and user defaults in a folder of their own so no test touches the real ones.
int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    vd::MainQueue::install([](vd::Task task) {
        QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
    });
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // Background work (icons being loaded) must be over before the toolkit is torn down.
    vd::WorkPool::stopThreads();
    vd::MainQueue::uninstall();
    return result;
}
