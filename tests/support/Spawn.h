#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vd::test {

// Environment changes for a child: a variable set to its value, or removed when without one;
// every other variable of the test's own environment is inherited.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

// Starts a program as a shell would, standard input empty, standard output (and error, when a
// file is given) written to files. The child's pid, or -1 when it could not be started.
pid_t spawnProgram(std::vector<std::string> arguments, const EnvironmentChanges& environment,
                   const std::filesystem::path& stdoutPath, const std::optional<std::filesystem::path>& stderrPath = std::nullopt);

} // namespace vd::test
