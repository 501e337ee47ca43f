#include "WindowId.h"

#include <QByteArray>
#include <QCryptographicHash>

namespace vd {
namespace {

std::string passwordDigest(const std::string& password)
{
    const QByteArray bytes(password.data(), static_cast<qsizetype>(password.size()));
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
}

} // namespace

WindowId WindowId::local()
{
    return {ConnectionKind::Local, "LCL"};
}

WindowId WindowId::remote(const std::string& host, std::int64_t port, const std::string& password)
{
    return {ConnectionKind::Remote, "REM" + host + ":" + std::to_string(port) + "@" + passwordDigest(password)};
}

WindowId WindowId::usb(std::int64_t port, const std::string& password)
{
    return {ConnectionKind::USB, "REMUSB:" + std::to_string(port) + "@" + passwordDigest(password)};
}

} // namespace vd
