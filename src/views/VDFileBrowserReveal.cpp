#include "VDFileBrowserReveal.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#ifdef Q_OS_MACOS
#include <QProcess>
#else
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#endif

namespace vd {
namespace {

#ifndef Q_OS_MACOS
// A file manager that is not running gets started by the bus; give it time, not forever.
constexpr int kShowItemsTimeoutMs = 5000;

void openContainingFolder(const QString& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}
#endif

} // namespace

QString revealMenuTitle()
{
#ifdef Q_OS_MACOS
    return QStringLiteral("Show in Finder");
#else
    return QStringLiteral("Show in File Manager");
#endif
}

void revealInFileBrowser(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    if (!QDir::isAbsolutePath(clean) || clean.contains(QChar(0)))
        return;
#ifdef Q_OS_MACOS
    // An absolute path starts with "/", so it can never be taken for an option of open(1).
    QProcess::startDetached("/usr/bin/open", {"-R", clean});
#else
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openContainingFolder(clean);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    // File managers take URIs, so a space or a non-ASCII letter goes percent-encoded.
    call << QStringList{QString::fromLatin1(QUrl::fromLocalFile(clean).toEncoded())} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kShowItemsTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [clean](QDBusPendingCallWatcher* finished) {
        if (finished->isError())
            openContainingFolder(clean);
        finished->deleteLater();
    });
#endif
}

} // namespace vd
