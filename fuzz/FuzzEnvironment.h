#pragma once

#include <filesystem>

namespace vd::fuzz {

// What every target that reaches past pure decoding needs before its first input: log lines
// dropped (a line per packet would make the log the bottleneck), and the program's caches
// (dump files, icons) in a private folder that is removed at exit. Returns that folder.
const std::filesystem::path& setUpFuzzEnvironment();

} // namespace vd::fuzz
