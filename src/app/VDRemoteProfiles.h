#pragma once

#include <optional>

#include <QString>
#include <QStringList>

namespace vd {

// One saved remote service, each field exactly as the user typed it.
struct VDRemoteProfile {
    QString host;
    QString port;
    QString password;
};

// The saved remote profiles in the user defaults under "remotes": profile name (compared
// exactly, case and all) -> {"host", "port", "password"}. A missing or malformed entry reads as
// no profiles. Every change is written to disk at once, so a crash loses nothing the user saved.
namespace VDRemoteProfiles {

// The names in the order the store keeps them.
QStringList names();
std::optional<VDRemoteProfile> profile(const QString& name);
// Adds a profile; an existing one is never overwritten (returns false then).
bool add(const QString& name, const VDRemoteProfile& profile);
void remove(const QString& name);

} // namespace VDRemoteProfiles
} // namespace vd
