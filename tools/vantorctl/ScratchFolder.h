#pragma once

#include <filesystem>

namespace vd::ctl {

// A folder of our own under the system's temporary folder, for the bodies and icons the data
// layer keeps as files: a terminal tool must not leave them in the user's caches. Removed
// with everything in it when it goes away.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Puts the dump store's bodies and the icon cache's icons in `folder`. Both decide their folder
// once, on first use: call this before any processor is made.
void keepDataStoresIn(const ScratchFolder& folder);

} // namespace vd::ctl
