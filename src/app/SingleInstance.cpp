#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace vd {
namespace {

constexpr int kTimeoutMs = 1000;
// A URL and a line end; anything longer is not a launch's message.
constexpr qint64 kMaxMessageBytes = 4096;

} // namespace

SingleInstance::SingleInstance(QString serverName, QObject* parent) : QObject(parent), serverName_(std::move(serverName))
{
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

QString SingleInstance::serverNameFor(const QString& serviceSocketPath)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const QByteArray key = QCryptographicHash::hash(serviceSocketPath.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return folder + "/vantordashboard-" + QString::fromLatin1(key);
}

SingleInstance::Role SingleInstance::claim(const QString& message)
{
    if (sendToRunning(message))
        return Role::Secondary;
    if (server_.listen(serverName_))
        return Role::Primary;
    // Taken: either another launch won the race just now, or a crashed run left its socket.
    if (server_.serverError() == QAbstractSocket::AddressInUseError) {
        if (sendToRunning(message))
            return Role::Secondary;
        QLocalServer::removeServer(serverName_);
        if (server_.listen(serverName_))
            return Role::Primary;
    }
    return Role::Failed;
}

bool SingleInstance::sendToRunning(const QString& message)
{
    QLocalSocket socket;
    socket.connectToServer(serverName_);
    if (!socket.waitForConnected(kTimeoutMs))
        return false;
    // Someone runs: even if the message does not get through, this launch must not take over.
    socket.write(message.toUtf8() + '\n');
    socket.waitForBytesWritten(kTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

void SingleInstance::accept()
{
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxMessageBytes)
                    socket->abort();
                return;
            }
            const QByteArray line = socket->readLine(kMaxMessageBytes);
            socket->disconnectFromServer();
            if (line.endsWith('\n'))
                emit messageReceived(QString::fromUtf8(line.trimmed()));
        });
    }
}

} // namespace vd
