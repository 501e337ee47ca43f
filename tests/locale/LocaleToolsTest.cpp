#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include <QTest>

#include <gtest/gtest.h>

#include "LocaleNames.h"
#include "link/QNComClientManager.h"
#include "support/Spawn.h"
#include "support/TempDir.h"

namespace vd {
namespace {

constexpr int kPatienceMs = 20'000;

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A program of this build started in the locale `locale`, its standard output in a file.
class Program {
public:
    Program(std::vector<std::string> arguments, const char* locale, std::filesystem::path output)
        : output_(std::move(output))
    {
        pid_ = test::spawnProgram(std::move(arguments), {{"LC_ALL", locale}}, output_);
    }
    ~Program()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return pid_ > 0; }
    // Waits for the program to end by itself; its exit code, or -1.
    int finish()
    {
        int status = 0;
        if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_)
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string output() const { return readFile(output_); }

private:
    std::filesystem::path output_;
    pid_t pid_ = -1;
};

// The simulated service, started alike in every locale: the same traffic from the same seed,
// its time standing still.
std::unique_ptr<Program> startService(const test::TempDir& dir, const std::filesystem::path& socket, const char* locale)
{
    auto service = std::make_unique<Program>(
        std::vector<std::string>{VANTOR_SIM_PATH, "--socket", socket.string(), "--seed", "7", "--tick", "0"}, locale,
        dir / (socket.stem().string() + ".log"));
    EXPECT_TRUE(service->started());
    EXPECT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(socket); }, kPatienceMs)) << socket;
    return service;
}

// The recent records a service reports, as the texts it wrote them in.
std::vector<std::string> recentRecordTexts(const std::filesystem::path& socket)
{
    struct Seen {
        std::mutex mutex;
        bool connected = false;
        std::vector<std::string> texts;
        bool answered = false;
    };
    const auto seen = std::make_shared<Seen>();
    const auto manager = QNComClientManager::create();
    manager->setConnectCompleteBlock([seen] {
        std::lock_guard lock(seen->mutex);
        seen->connected = true;
    });
    manager->setReceiveBlock([seen](const ReceivedPacket& received) {
        const QNComPacket packet = received.packet();
        if (packet.cmd() != 8)
            return;
        std::lock_guard lock(seen->mutex);
        for (const auto& text : packet.dic()["d"]["tunnels"])
            seen->texts.push_back(text.get<std::string>());
        seen->answered = true;
    });
    const auto holds = [&seen](bool Seen::*flag) {
        return QTest::qWaitFor(
            [&] {
                std::lock_guard lock(seen->mutex);
                return seen.get()->*flag;
            },
            kPatienceMs);
    };
    manager->startWithSocketPath(socket.string());
    EXPECT_TRUE(holds(&Seen::connected)) << "no login at " << socket;
    manager->requestHistoryTunnelLastCount(50);
    EXPECT_TRUE(holds(&Seen::answered)) << "no recent records from " << socket;
    manager->stop();
    std::lock_guard lock(seen->mutex);
    return seen->texts;
}

// What vantorctl prints for `arguments` against the service at `socket`, run in `locale`.
std::string vantorctl(const test::TempDir& dir, const std::filesystem::path& socket, std::vector<std::string> arguments,
                      const char* locale)
{
    static int runs = 0;
    arguments.insert(arguments.begin(), {VANTORCTL_PATH, "--socket", socket.string(), "--timeout", "7.5"});
    Program run(std::move(arguments), locale, dir / ("vantorctl" + std::to_string(++runs) + ".out"));
    EXPECT_EQ(run.finish(), 0);
    return run.output();
}

TEST(LocaleTools, TheSimulatorAndVantorctlPrintTheSameBytesInEveryLocale)
{
    test::TempDir dir;
    const auto plainSocket = dir / "plain.sock";
    const auto commaSocket = dir / "comma.sock";
    const auto plainService = startService(dir, plainSocket, test::kPlainLocale);
    const auto commaService = startService(dir, commaSocket, test::kCommaLocale);

    const auto plainTexts = recentRecordTexts(plainSocket);
    ASSERT_FALSE(plainTexts.empty());
    EXPECT_EQ(recentRecordTexts(commaSocket), plainTexts);
    // The records carry their times as reals, and those are what a locale could change.
    EXPECT_TRUE(std::regex_search(plainTexts.front(), std::regex(R"("t_start":\d+\.\d+)"))) << plainTexts.front();

    const std::vector<std::vector<std::string>> commands{{"recent", "--count", "50"}, {"recent", "--count", "50", "--json"}, {"dns"}};
    for (const auto& command : commands) {
        SCOPED_TRACE(command.front() + " " + command.back());
        const std::string plain = vantorctl(dir, commaSocket, command, test::kPlainLocale);
        EXPECT_EQ(vantorctl(dir, commaSocket, command, test::kCommaLocale), plain);
        // Sizes and durations with decimals, or start times with fractions of a second.
        EXPECT_TRUE(std::regex_search(plain, std::regex(R"(\d\.\d)"))) << plain;
    }
}

} // namespace
} // namespace vd
