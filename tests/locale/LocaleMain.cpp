#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "LocaleNames.h"
#include "platform/MainQueue.h"
#include "platform/WorkPool.h"

// Every test here runs in a locale that writes decimals with a comma, applied the way the
// dashboard gets it: from the environment, by the toolkit's application object. The locale is
// switched before any worker thread starts, and the program refuses to run at all when the
// switch did not take, so that no test can pass without testing anything.
int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    setenv("LC_ALL", vd::test::kCommaLocale, 1);
    // Start times are compared as texts: one zone for every machine.
    setenv("TZ", "UTC", 1);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // User defaults, icons and dumps in folders of this program's own.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QTemporaryDir cachesDir;
    setenv("XDG_CACHE_HOME", cachesDir.path().toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    const char* point = std::localeconv()->decimal_point;
    if (std::strcmp(point, ",") != 0) {
        std::fprintf(stderr,
                     "locale_tests: the locale %s did not take effect (decimal point \"%s\"), so nothing here "
                     "would be tested. Generate it with scripts/setup (localedef -i de_DE -f UTF-8 de_DE.UTF-8).\n",
                     vd::test::kCommaLocale, point);
        return 1;
    }

    vd::MainQueue::install([](vd::Task task) { QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection); });
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    vd::WorkPool::stopThreads();
    vd::MainQueue::uninstall();
    return result;
}
