#include <csignal>
#include <cstdio>
#include <optional>

#include <QApplication>
#include <QCommandLineParser>

#include "AppDelegate.h"
#include "Copypast.h"
#include "GuiHeartbeat.h"
#include "SingleInstance.h"
#include "AppIcon.h"
#include "VdVersion.h"
#include "link/ServiceContract.h"
#include "platform/LargeBuffers.h"
#include "platform/MainQueue.h"
#include "platform/WorkPool.h"
#include "platform/UserPaths.h"

namespace {

struct LaunchOptions {
    QStringList urls;
    // Empty: the service's usual socket.
    QString socketPath;
};

// Read before the application object exists, so --help and --version work without a display.
std::optional<LaunchOptions> parseOptions(int argc, char** argv, int& exitCode)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription("Vantor Dashboard: monitor and remote control for the Vantor traffic-proxy service.");
    const QCommandLineOption help({"h", "help"}, "Displays this help.");
    const QCommandLineOption version({"v", "version"}, "Displays the version.");
    const QCommandLineOption socket(
        "socket", "The service on this computer listens at PATH instead of ~/Vantor/Tmp/db.connect.", "PATH");
    parser.addOptions({help, version, socket});
    parser.addPositionalArgument("url", "vantordashboard://local opens the window of the service on this computer.", "[url]");

    exitCode = 0;
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "%s\n", qPrintable(parser.errorText()));
        exitCode = 2;
        return std::nullopt;
    }
    if (parser.isSet(help)) {
        // Without an application object Qt cannot name the program itself.
        std::printf("%s", qPrintable(parser.helpText().replace("<executable_name>", "vantor-dashboard")));
        return std::nullopt;
    }
    if (parser.isSet(version)) {
        std::printf("vantor-dashboard %s\n", VD_VERSION_TEXT);
        return std::nullopt;
    }
    return LaunchOptions{parser.positionalArguments(), parser.value(socket)};
}

} // namespace

int main(int argc, char** argv)
{
    vd::returnLargeBuffersToTheSystem();
    int exitCode = 0;
    const auto launch = parseOptions(argc, argv, exitCode);
    if (!launch)
        return exitCode;

    // A service that goes away mid-write must cost its link, not the program.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vantor Dashboard");
    QApplication::setApplicationVersion(VD_VERSION);
    QApplication::setDesktopFileName("vantor-dashboard");
    QApplication::setWindowIcon(vd::drawApplicationIcon());
    // Quitting is the delegate's decision: the last window closing may bring the connect window back.
    QApplication::setQuitOnLastWindowClosed(false);

    const QString socketPath = launch->socketPath.isEmpty()
                                   ? QString::fromStdString(vd::contract::localSocketPath(vd::paths::home()).string())
                                   : launch->socketPath;
    vd::SingleInstance instance(vd::SingleInstance::serverNameFor(socketPath));
    if (instance.claim(launch->urls.value(0)) == vd::SingleInstance::Role::Secondary)
        return 0;

    vd::MainQueue::install([](vd::Task task) { QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection); });
    vd::Copypast copypast;
    app.installEventFilter(&copypast);
    // A frozen window leaves no trace of its own; this logs every time the GUI thread was held.
    vd::GuiHeartbeat heartbeat;
    int result = 0;
    {
        vd::AppDelegate::Options options;
        options.localSocketPath = launch->socketPath.toStdString();
        vd::AppDelegate delegate(std::move(options));
        QObject::connect(&instance, &vd::SingleInstance::messageReceived, &delegate, [&delegate](const QString& message) {
            // A launch without a URL asks for a way to connect.
            if (message.isEmpty())
                delegate.showConnectWindow();
            else
                delegate.openURLs({message});
        });
        delegate.applicationDidFinishLaunching(launch->urls);
        result = QApplication::exec();
        // The delegate goes first: every main window ends its link, and no callback of a link
        // reaches for the event loop once it is gone.
    }
    // Background work (icons being loaded, files written) ends before the toolkit goes away.
    vd::WorkPool::stopThreads();
    vd::MainQueue::uninstall();
    return result;
}
