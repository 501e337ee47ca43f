#include "FuzzEnvironment.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "platform/Log.h"

namespace vd::fuzz {

void dropLogLines()
{
    log::setSink([](log::Level, std::string_view) {});
}

const std::filesystem::path& setUpFuzzEnvironment()
{
    static const std::filesystem::path folder = [] {
        std::string name = (std::filesystem::temp_directory_path() / "vd-fuzz-caches-XXXXXX").string();
        if (!::mkdtemp(name.data()))
            throw std::runtime_error("mkdtemp failed");
        ::setenv("XDG_CACHE_HOME", name.c_str(), 1);
        dropLogLines();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(setUpFuzzEnvironment(), ignored);
        });
        return std::filesystem::path(name);
    }();
    return folder;
}

} // namespace vd::fuzz
