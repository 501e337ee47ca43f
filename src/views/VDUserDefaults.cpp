#include "VDUserDefaults.h"

#include <QFile>

namespace vd {

std::unique_ptr<QSettings> userDefaults()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "lumenforge", "VantorDashboard");
}

void syncUserDefaults(QSettings& settings)
{
    settings.sync();
    QFile::setPermissions(settings.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace vd
