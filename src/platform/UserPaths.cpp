#include "UserPaths.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace vd::paths {
namespace {

const char* nonEmptyEnv(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

} // namespace

std::filesystem::path home()
{
    if (const char* value = nonEmptyEnv("HOME"))
        return value;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

std::filesystem::path caches()
{
#ifdef __APPLE__
    return home() / "Library" / "Caches";
#else
    if (const char* value = nonEmptyEnv("XDG_CACHE_HOME"); value && std::filesystem::path(value).is_absolute())
        return value;
    return home() / ".cache";
#endif
}

std::filesystem::path temporary()
{
    if (const char* value = nonEmptyEnv("TMPDIR"))
        return value;
    return "/tmp";
}

} // namespace vd::paths
