#include <csignal>

#include <QApplication>
#include <QCommandLineParser>

#include "AppDelegate.h"
#include "Copypast.h"
#include "SingleInstance.h"
#include "link/ServiceContract.h"
#include "platform/MainQueue.h"
#include "platform/UserPaths.h"

int main(int argc, char** argv)
{
    // A service that goes away mid-write must cost its link, not the program.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vantor Dashboard");
    QApplication::setApplicationVersion(QStringLiteral(VD_VERSION));
    QApplication::setDesktopFileName("vantor-dashboard");
    // Quitting is the delegate's decision: the last window closing may bring the connect window back.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription("Monitor and remote control for the Vantor traffic-proxy service.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("url", "vantordashboard://local opens the window of the service on this computer.", "[url]");
    const QCommandLineOption socketOption(
        "socket", "The service on this computer listens at PATH instead of ~/Vantor/Tmp/db.connect.", "PATH");
    parser.addOption(socketOption);
    parser.process(app);

    const QString socketPath = parser.isSet(socketOption)
                                   ? parser.value(socketOption)
                                   : QString::fromStdString(vd::contract::localSocketPath(vd::paths::home()).string());
    const QStringList urls = parser.positionalArguments();

    vd::SingleInstance instance(vd::SingleInstance::serverNameFor(socketPath));
    if (instance.claim(urls.value(0)) == vd::SingleInstance::Role::Secondary)
        return 0;

    vd::MainQueue::install([](vd::Task task) { QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection); });
    vd::Copypast copypast;
    app.installEventFilter(&copypast);
    int result = 0;
    {
        vd::AppDelegate::Options options;
        if (parser.isSet(socketOption))
            options.localSocketPath = socketPath.toStdString();
        vd::AppDelegate delegate(std::move(options));
        QObject::connect(&instance, &vd::SingleInstance::messageReceived, &delegate, [&delegate](const QString& message) {
            // A launch without a URL asks for a way to connect.
            if (message.isEmpty())
                delegate.showConnectWindow();
            else
                delegate.openURLs({message});
        });
        delegate.applicationDidFinishLaunching(urls);
        result = QApplication::exec();
        // The delegate goes first: every main window ends its link, and no callback of a link
        // reaches for the event loop once it is gone.
    }
    vd::MainQueue::uninstall();
    return result;
}
