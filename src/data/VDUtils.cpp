// Where work runs and where files go; the other members live in the files named for their
// topics (formatting, hex, Base64, addresses, random, images, editors).

#include <system_error>

#include "VDUtils.h"
#include "platform/MainQueue.h"
#include "platform/UserPaths.h"

namespace vd {

void VDUtils::runBlockInMainThread(Task task)
{
    vd::runBlockInMainThread(std::move(task));
}

std::optional<std::filesystem::path> VDUtils::getAndCreateTmpFolder()
{
    namespace fs = std::filesystem;
    const fs::path folder = paths::caches() / "VantorDashboard";
    std::error_code error;
    const fs::file_status status = fs::status(folder, error);
    if (fs::exists(status))
        return fs::is_directory(status) ? std::optional(folder) : std::nullopt;
    // Anything but "not there" (a parent we may not search, say) leaves us without a folder.
    if (status.type() != fs::file_type::not_found)
        return std::nullopt;
    fs::create_directories(folder, error);
    // Another thread or process may have made it in the meantime; what counts is that a folder
    // is there now.
    if (error || !fs::is_directory(folder, error))
        return std::nullopt;
    return folder;
}

} // namespace vd
