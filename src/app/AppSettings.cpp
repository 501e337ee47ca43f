#include "AppSettings.h"

#include "views/VDUserDefaults.h"

namespace vd {

std::unique_ptr<QSettings> appSettings()
{
    return userDefaults();
}

void syncAppSettings(QSettings& settings)
{
    syncUserDefaults(settings);
}

} // namespace vd
