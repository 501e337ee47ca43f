#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/UserPaths.h"

namespace vd {
namespace {

// Sets or clears one environment variable for a test and puts the old value back afterwards,
// so one test's environment never leaks into the next one in the same process.
class ScopedEnv {
public:
    explicit ScopedEnv(const char* name) : name_(name)
    {
        if (const char* value = std::getenv(name))
            saved_ = value;
    }
    ~ScopedEnv()
    {
        if (saved_)
            setenv(name_, saved_->c_str(), 1);
        else
            unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void set(const char* value) { setenv(name_, value, 1); }
    void clear() { unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

TEST(UserPaths, HomeHonoursHomeAndOtherwiseAsksTheSystem)
{
    ScopedEnv home("HOME");
    home.set("/srv/someone");
    EXPECT_EQ(paths::home(), "/srv/someone");

    for (const bool empty : {true, false}) {
        if (empty)
            home.set("");
        else
            home.clear();
        const auto fallback = paths::home();
        EXPECT_FALSE(fallback.empty());
        EXPECT_TRUE(fallback.is_absolute()) << fallback;
    }
}

#ifndef __APPLE__
TEST(UserPaths, CachesHonoursAnAbsoluteXdgCacheHome)
{
    ScopedEnv home("HOME");
    ScopedEnv xdg("XDG_CACHE_HOME");
    home.set("/home/tester");
    xdg.set("/var/cache/tester");
    EXPECT_EQ(paths::caches(), "/var/cache/tester");
}

TEST(UserPaths, CachesFallsBackToDotCacheInHome)
{
    ScopedEnv home("HOME");
    ScopedEnv xdg("XDG_CACHE_HOME");
    home.set("/home/tester");

    xdg.clear();
    EXPECT_EQ(paths::caches(), "/home/tester/.cache");
    // An empty or relative value is to be ignored, not taken relative to the working folder.
    for (const char* ignored : {"", "cache", "./cache", "~/.cache", "../cache"}) {
        xdg.set(ignored);
        EXPECT_EQ(paths::caches(), "/home/tester/.cache") << "XDG_CACHE_HOME=\"" << ignored << '"';
    }
}
#endif

TEST(UserPaths, TemporaryHonoursTmpdirAndOtherwiseIsSlashTmp)
{
    ScopedEnv tmpdir("TMPDIR");
    tmpdir.set("/scratch/tester");
    EXPECT_EQ(paths::temporary(), "/scratch/tester");
    tmpdir.set("");
    EXPECT_EQ(paths::temporary(), "/tmp");
    tmpdir.clear();
    EXPECT_EQ(paths::temporary(), "/tmp");
}

} // namespace
} // namespace vd
