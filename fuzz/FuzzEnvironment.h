#pragma once

#include <filesystem>

namespace vd::fuzz {

// Drops the program's log lines: a line for every refused input would make writing the log
// the bottleneck, and its file the biggest thing a long run leaves behind.
void dropLogLines();

// What every target that reaches past pure decoding needs before its first input: log lines
// dropped, and the program's caches (dump files, icons) in a private folder that is removed at
// exit. Returns that folder.
const std::filesystem::path& setUpFuzzEnvironment();

} // namespace vd::fuzz
