#pragma once

namespace vd::test {

// A locale whose decimal separator is a comma; scripts/setup generates it.
inline constexpr const char* kCommaLocale = "de_DE.UTF-8";
// The C library's own locale, in UTF-8.
inline constexpr const char* kPlainLocale = "C.UTF-8";

} // namespace vd::test
