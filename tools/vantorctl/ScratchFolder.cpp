#include "ScratchFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ExitCodes.h"
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

} // namespace vd::ctl
