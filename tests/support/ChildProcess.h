#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vd::test {

// The whole content of a file, or nothing when it cannot be read.
std::string readFile(const std::filesystem::path& path);

// Environment changes for a child: a variable set to its value, or removed when without one;
// every other variable of the test's own environment is inherited.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

// A program started as a shell would start it, standard input empty, standard output (and
// error, when a file is given) written to files; asked to end (SIGTERM) and reaped when the
// test lets go of it, so no test leaves a process behind.
class ChildProcess {
public:
    ChildProcess(std::vector<std::string> arguments, const EnvironmentChanges& environment,
                 std::filesystem::path stdoutPath,
                 std::optional<std::filesystem::path> stderrPath = std::nullopt);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    void signal(int number) const;
    // Waits for it to end: its exit code, 128 + the signal that ended it, or -1 when it was not
    // running or outlived the limit (it is killed then).
    int finish(std::chrono::milliseconds limit = std::chrono::seconds(60));
    // Asks it to end and waits: a clean stop is 0.
    int stop();
    // Its standard output so far; none when that went to a terminal, which is not read back.
    std::string output() const
    {
        return std::filesystem::is_regular_file(stdoutPath_) ? readFile(stdoutPath_) : std::string();
    }
    std::string errors() const { return stderrPath_ ? readFile(*stderrPath_) : std::string(); }

private:
    pid_t pid_ = -1;
    std::filesystem::path stdoutPath_;
    std::optional<std::filesystem::path> stderrPath_;
};

} // namespace vd::test
