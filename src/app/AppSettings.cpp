#include "AppSettings.h"

#include <QFile>

namespace vd {

std::unique_ptr<QSettings> appSettings()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "lumenforge", "VantorDashboard");
}

void syncAppSettings(QSettings& settings)
{
    settings.sync();
    QFile::setPermissions(settings.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace vd
