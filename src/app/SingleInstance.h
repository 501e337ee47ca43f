#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace vd {

// One running dashboard per local service: a later launch hands its message (the URL it was
// opened with, or nothing) to the running instance through a local socket and leaves.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role { Primary, Secondary, Failed };

    // `serverName`: a socket path or a bare name (placed in the temporary folder by Qt).
    explicit SingleInstance(QString serverName, QObject* parent = nullptr);

    // Secondary: a running instance took the message. Primary: this one runs and receives later
    // launches' messages. Failed: neither could be had; the program runs on its own.
    Role claim(const QString& message);

    // The socket for the local service at `serviceSocketPath`, in the user's runtime folder.
    static QString serverNameFor(const QString& serviceSocketPath);

signals:
    void messageReceived(const QString& message);

private:
    // True when an instance is running (it was reached), whether or not the message got through.
    bool sendToRunning(const QString& message);
    void accept();

    const QString serverName_;
    QLocalServer server_;
};

} // namespace vd
