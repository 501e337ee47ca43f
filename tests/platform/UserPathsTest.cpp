#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/UserPaths.h"
#include "support/ScopedEnv.h"

namespace vd {
namespace {

using test::ScopedEnv;

TEST(UserPaths, HomeHonoursHomeAndOtherwiseAsksTheSystem)
{
    ScopedEnv home("HOME", "/srv/someone");
    EXPECT_EQ(paths::home(), "/srv/someone");

    for (const std::optional<std::string>& unusable : {std::optional<std::string>(""), std::optional<std::string>()}) {
        home.apply(unusable);
        EXPECT_TRUE(paths::home().is_absolute()) << paths::home();
    }
}

#ifndef __APPLE__
TEST(UserPaths, CachesHonoursOnlyAnAbsoluteXdgCacheHomeAndOtherwiseIsDotCacheInHome)
{
    ScopedEnv home("HOME", "/home/tester");
    ScopedEnv xdg("XDG_CACHE_HOME", "/var/cache/tester");
    EXPECT_EQ(paths::caches(), "/var/cache/tester");

    xdg.apply(std::nullopt);
    EXPECT_EQ(paths::caches(), "/home/tester/.cache");
    // An empty or relative value is to be ignored, not taken relative to the working folder.
    for (const char* ignored : {"", "cache", "./cache", "~/.cache", "../cache"}) {
        xdg.apply(ignored);
        EXPECT_EQ(paths::caches(), "/home/tester/.cache") << "XDG_CACHE_HOME=\"" << ignored << '"';
    }
}
#endif

TEST(UserPaths, TemporaryHonoursTmpdirAndOtherwiseIsSlashTmp)
{
    ScopedEnv tmpdir("TMPDIR", "/scratch/tester");
    EXPECT_EQ(paths::temporary(), "/scratch/tester");
    for (const std::optional<std::string>& unset : {std::optional<std::string>(""), std::optional<std::string>()}) {
        tmpdir.apply(unset);
        EXPECT_EQ(paths::temporary(), "/tmp");
    }
}

} // namespace
} // namespace vd
