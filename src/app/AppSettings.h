#pragma once

#include <memory>

#include <QSettings>

namespace vd {

// The user defaults: organisation "lumenforge", application "VantorDashboard". The file holds
// profile passwords, so it is kept readable by its owner only.
std::unique_ptr<QSettings> appSettings();
// Writes pending changes to disk now and makes sure the file is owner-only.
void syncAppSettings(QSettings& settings);

} // namespace vd
