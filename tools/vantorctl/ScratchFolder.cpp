#include "ScratchFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ExitCodes.h"
#include "data/VDDumpDataManager.h"
#include "data/VDICONImageManager.h"
#include "platform/UserPaths.h"

namespace vd::ctl {

ScratchFolder::ScratchFolder()
{
    const auto parent = paths::temporary();
    std::string pattern = (parent / "vantorctl-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw Failure(kExitFailed, "cannot create a private folder in " + parent.string() + ": " + std::strerror(errno));
    path_ = pattern;
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void keepDataStoresIn(const ScratchFolder& folder)
{
    VDDumpDataManager::setUpDumpFolderIn(folder.path());
    const auto icons = folder.path() / "Icons";
    std::error_code ignored;
    std::filesystem::create_directory(icons, ignored);
    VDICONImageManager::sharedInstance()->setIconFolderPath(icons.string());
    VDICONImageManager::sharedInstance()->localIconFolderPath();
}

} // namespace vd::ctl
