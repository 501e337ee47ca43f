#include "LinkEndTexts.h"

#include "link/ServiceContract.h"
#include "platform/UserPaths.h"

namespace vd {
namespace {

QString whereText(const LinkPlace& place)
{
    switch (place.kind) {
    case ConnectionKind::Local:
        return QString::fromStdString(place.socketPath);
    case ConnectionKind::Remote:
        return QString::fromStdString(place.host) + ":" + QString::number(place.port);
    case ConnectionKind::USB:
        return QString("the USB device's port %1").arg(place.port + 1);
    case ConnectionKind::None:
        break;
    }
    return {};
}

// The simulator stands in for a service; it takes the same socket the window tried.
QString demoCommand(const LinkPlace& place)
{
    const bool usualSocket = place.socketPath == contract::localSocketPath(paths::home()).string();
    return usualSocket ? QString("vantor-sim") : "vantor-sim --socket " + QString::fromStdString(place.socketPath);
}

QString unreachableDetail(const LinkPlace& place)
{
    switch (place.kind) {
    case ConnectionKind::Local:
        return QString("Nothing is listening at %1.\nStart the Vantor service on this computer, or run \"%2\" for a demo.")
            .arg(whereText(place), demoCommand(place));
    case ConnectionKind::Remote:
        return QString("No service could be reached at %1. Check the host and the port, and that the service there "
                       "accepts remote connections.")
            .arg(whereText(place));
    default:
        return QString("No service could be reached at %1.").arg(whereText(place));
    }
}

} // namespace

QString linkEndReason(const LinkEnd& end)
{
    if (end.cause == LinkEndCause::DeviceDetached)
        return "The device was disconnected";
    return QString::fromStdString(end.errorDescription.value_or(std::string()));
}

QString linkEndDetail(const LinkEnd& end, const LinkPlace& place)
{
    switch (end.cause) {
    case LinkEndCause::Unreachable:
        return unreachableDetail(place);
    case LinkEndCause::Closed:
        return QString("The link to the service at %1 ended.").arg(whereText(place));
    case LinkEndCause::LoginRefused:
        return QString("The service at %1 refused the password.").arg(whereText(place));
    case LinkEndCause::DeviceDetached:
        return QString("This window connects again when the device is attached.");
    case LinkEndCause::Stopped:
        break;
    }
    return {};
}

QString usbDaemonUnreachableDetail(const std::string& address, const std::string& error)
{
    return QString("The USB daemon cannot be reached at %1 (%2). Trying again every second; start usbmuxd, "
                   "or set USBMUXD_SOCKET_ADDRESS to where it listens.")
        .arg(QString::fromStdString(address), QString::fromStdString(error));
}

} // namespace vd
