#pragma once

#include <memory>

#include <QSettings>

namespace vd {

// The user defaults (see views/VDUserDefaults.h, where the views keep their layouts in the same
// owner-only file): organisation "lumenforge", application "VantorDashboard".
std::unique_ptr<QSettings> appSettings();
// Writes pending changes to disk now and makes sure the file is owner-only.
void syncAppSettings(QSettings& settings);

} // namespace vd
