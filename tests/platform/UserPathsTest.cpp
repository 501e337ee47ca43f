#include <gtest/gtest.h>

#include "platform/UserPaths.h"
#include "support/ScopedEnv.h"

namespace vd {
namespace {

using Value = std::optional<std::string>;

// Each path honours its variable and otherwise falls back; an unset, empty or relative cache
// folder is ignored, not taken relative to the working folder.
TEST(UserPaths, EachHonoursItsVariableAndOtherwiseFallsBack)
{
    test::ScopedEnv home("HOME", "/home/tester"), xdg("XDG_CACHE_HOME", "/var/cache/tester"), tmpdir("TMPDIR", "/scratch/tester");
    EXPECT_EQ(std::tuple(paths::home(), paths::temporary(), paths::caches()), std::tuple("/home/tester", "/scratch/tester", "/var/cache/tester"));
    for (const Value& ignored : {Value(), Value(""), Value("cache"), Value("./cache"), Value("~/.cache"), Value("../cache")}) {
        xdg.apply(ignored);
        EXPECT_EQ(paths::caches(), "/home/tester/.cache") << "XDG_CACHE_HOME=\"" << ignored.value_or("(unset)") << '"';
    }
    for (const Value& unusable : {Value(), Value("")}) {
        tmpdir.apply(unusable);
        home.apply(unusable);
        EXPECT_EQ(paths::temporary(), "/tmp");
        EXPECT_TRUE(paths::home().is_absolute()) << paths::home() << " from the system";
    }
}

} // namespace
} // namespace vd
