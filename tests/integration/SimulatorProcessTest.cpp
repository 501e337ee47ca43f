#include <fstream>
#include <thread>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "SimHarness.h"

extern char** environ;

namespace vd {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// The installed program, not just its library: started as a person would start it.
class SimulatorProcess {
public:
    explicit SimulatorProcess(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), VANTOR_SIM_PATH);
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
    }
    ~SimulatorProcess()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool running() const { return pid_ > 0; }
    // The exit status after SIGTERM: a clean stop is 0.
    int stop()
    {
        int status = -1;
        kill(pid_, SIGTERM);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
};

std::vector<json> readLog(const std::filesystem::path& path)
{
    std::vector<json> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(json::parse(line));
    return lines;
}

TEST(SimulatorProcess, LogsEveryPacketAClientSends)
{
    test::TempDir dir;
    const auto socket = dir / "Vantor" / "Tmp" / "db.connect";
    const auto logFile = dir / "sim.log";
    SimulatorProcess process({"--socket", socket.string(), "--log", logFile.string()});
    ASSERT_TRUE(process.running());
    for (int i = 0; i < 100 && !std::filesystem::exists(socket); ++i)
        std::this_thread::sleep_for(50ms);

    auto manager = QNComClientManager::create();
    test::ManagerProbe probe(*manager);
    manager->startWithSocketPath(socket.string());
    ASSERT_TRUE(probe.waitFor([&] { return probe.completions == 1; }));
    manager->requestHistoryTunnelLastCount(100);
    ASSERT_TRUE(probe.waitFor([&] {
        for (const auto& packet : probe.packets)
            if (packet.cmd() == contract::numberOf(contract::Command::historyTunnels))
                return true;
        return false;
    }));
    manager->stop();
    EXPECT_EQ(process.stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(socket)) << "the socket file is removed on exit";

    std::vector<json> received;
    for (const auto& line : readLog(logFile))
        if (line.contains("recv"))
            received.push_back(line["recv"]);
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0], json::parse(R"({"v":1,"c":1,"i":0})"));
    EXPECT_EQ(received[1]["d"]["password"], contract::kLocalPassword);
    EXPECT_EQ(received[2], json::parse(R"({"v":1,"c":1,"i":2,"t":8,"d":{"cmd":"last_count","count":100}})"));
}

TEST(SimulatorProcess, RefusesToTakeOverALiveSocket)
{
    test::TempDir dir;
    const auto socket = dir / "db.connect";
    sim::SimulatorOptions options;
    options.socketPath = socket;
    test::SimHarness first(options);

    SimulatorProcess second({"--socket", socket.string(), "--log", (dir / "second.log").string()});
    ASSERT_TRUE(second.running());
    // It gives up at once, leaving the running service's socket in place.
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(std::filesystem::exists(socket));
    auto manager = QNComClientManager::create();
    test::ManagerProbe probe(*manager);
    manager->startWithSocketPath(socket.string());
    EXPECT_TRUE(probe.waitFor([&] { return probe.completions == 1; }));
    manager->stop();
}

} // namespace
} // namespace vd
