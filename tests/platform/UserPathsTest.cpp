
#include <gtest/gtest.h>

#include "platform/UserPaths.h"
#include "support/ScopedEnv.h"

namespace vd {
namespace {

using test::ScopedEnv;
using Value = std::optional<std::string>;

TEST(UserPaths, EachHonoursItsVariableAndOtherwiseFallsBack)
{
    ScopedEnv home("HOME", "/home/tester");
    ScopedEnv xdg("XDG_CACHE_HOME", "/var/cache/tester");
    ScopedEnv tmpdir("TMPDIR", "/scratch/tester");
    EXPECT_EQ(paths::home(), "/home/tester");
    EXPECT_EQ(paths::temporary(), "/scratch/tester");
#ifndef __APPLE__
    EXPECT_EQ(paths::caches(), "/var/cache/tester");
    // An unset, empty or relative value is ignored, not taken relative to the working folder.
    for (const Value& ignored : {Value(), Value(""), Value("cache"), Value("./cache"), Value("~/.cache"), Value("../cache")}) {
        xdg.apply(ignored);
        EXPECT_EQ(paths::caches(), "/home/tester/.cache") << "XDG_CACHE_HOME=\"" << ignored.value_or("(unset)") << '"';
    }
#endif
    for (const Value& unusable : {Value(), Value("")}) {
        tmpdir.apply(unusable);
        EXPECT_EQ(paths::temporary(), "/tmp");
        home.apply(unusable);
        EXPECT_TRUE(paths::home().is_absolute()) << paths::home() << " from the system";
    }
}

} // namespace
} // namespace vd
