#pragma once

#include <filesystem>

namespace vd::paths {

// The user's home folder ($HOME, else the password database).
std::filesystem::path home();
// Where the program may keep caches: $XDG_CACHE_HOME or ~/.cache (~/Library/Caches on macOS).
std::filesystem::path caches();
// The system's folder for temporary files ($TMPDIR, else /tmp).
std::filesystem::path temporary();

} // namespace vd::paths
