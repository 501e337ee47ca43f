#include <clocale>
#include <cstdlib>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "LocaleNames.h"

namespace vd::test {
namespace {

// Every test here runs in a locale that writes decimals with a comma, applied the way the
// dashboard gets it: from the environment, by the toolkit's application object, which the
// widget tests' main makes after this has run and before any worker thread starts. Start times
// are compared as texts, so one zone for every machine; icons and dumps go to a caches folder of
// this program's own.
QTemporaryDir cachesDir;
const bool environmentSet = [] {
    setenv("LC_ALL", kCommaLocale, 1);
    setenv("TZ", "UTC", 1);
    return setenv("XDG_CACHE_HOME", cachesDir.path().toLocal8Bit().constData(), 1) == 0;
}();

// No test may pass without testing anything, so none runs when the switch did not take.
class CommaLocaleTookEffect : public testing::Environment {
    void SetUp() override
    {
        ASSERT_STREQ(std::localeconv()->decimal_point, ",")
            << "the locale " << kCommaLocale << " did not take effect, so nothing here would be tested. "
            << "Generate it with scripts/setup (localedef -i de_DE -f UTF-8 de_DE.UTF-8).";
    }
};
const auto* const commaLocale = testing::AddGlobalTestEnvironment(new CommaLocaleTookEffect);

} // namespace
} // namespace vd::test
