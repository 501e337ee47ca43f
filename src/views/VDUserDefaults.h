#pragma once

#include <memory>

#include <QSettings>

namespace vd {

// The user defaults: organisation "lumenforge", application "VantorDashboard". The file also
// holds profile passwords, so it is kept readable by its owner only. Views keep their layouts
// here; the application its profiles and window frames.
std::unique_ptr<QSettings> userDefaults();
// Writes pending changes to disk now and makes sure the file is owner-only.
void syncUserDefaults(QSettings& settings);

} // namespace vd
