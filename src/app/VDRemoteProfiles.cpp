#include "VDRemoteProfiles.h"

#include "AppSettings.h"

namespace vd::VDRemoteProfiles {
namespace {

const QString kRemotesKey = QStringLiteral("remotes");

QVariantMap stored(const QSettings& settings)
{
    const QVariant value = settings.value(kRemotesKey);
    return value.typeId() == QMetaType::QVariantMap ? value.toMap() : QVariantMap{};
}

void store(QSettings& settings, const QVariantMap& remotes)
{
    settings.setValue(kRemotesKey, remotes);
    syncAppSettings(settings);
}

} // namespace

QStringList names()
{
    return stored(*appSettings()).keys();
}

std::optional<VDRemoteProfile> profile(const QString& name)
{
    const QVariantMap remotes = stored(*appSettings());
    const auto found = remotes.constFind(name);
    if (found == remotes.constEnd())
        return std::nullopt;
    const QVariantMap record = found->toMap();
    return VDRemoteProfile{record.value("host").toString(), record.value("port").toString(),
                           record.value("password").toString()};
}

bool add(const QString& name, const VDRemoteProfile& profile)
{
    const auto settings = appSettings();
    QVariantMap remotes = stored(*settings);
    if (remotes.contains(name))
        return false;
    remotes.insert(name, QVariantMap{{"host", profile.host}, {"port", profile.port}, {"password", profile.password}});
    store(*settings, remotes);
    return true;
}

void remove(const QString& name)
{
    const auto settings = appSettings();
    QVariantMap remotes = stored(*settings);
    if (remotes.remove(name) > 0)
        store(*settings, remotes);
}

} // namespace vd::VDRemoteProfiles
