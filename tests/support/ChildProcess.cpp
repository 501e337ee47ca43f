#include "ChildProcess.h"

#include <csignal>
#include <fstream>
#include <iterator>
#include <thread>

#include <sys/wait.h>

namespace vd::test {

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

ChildProcess::ChildProcess(std::vector<std::string> arguments, const EnvironmentChanges& environment,
                           std::filesystem::path stdoutPath, std::optional<std::filesystem::path> stderrPath)
    : stdoutPath_(std::move(stdoutPath)), stderrPath_(std::move(stderrPath))
{
    pid_ = spawnProgram(std::move(arguments), environment, stdoutPath_, stderrPath_);
}

ChildProcess::~ChildProcess()
{
    if (started())
        stop();
}

void ChildProcess::signal(int number) const
{
    if (started())
        ::kill(pid_, number);
}

int ChildProcess::finish(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (started()) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return -1;
}

int ChildProcess::stop()
{
    signal(SIGTERM);
    return finish();
}

} // namespace vd::test
