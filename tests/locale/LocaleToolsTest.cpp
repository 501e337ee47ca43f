#include <filesystem>
#include <regex>

#include <QTest>

#include <gtest/gtest.h>

#include "LocaleNames.h"
#include "integration/WireClient.h"
#include "support/ChildProcess.h"
#include "support/Listening.h"
#include "support/TempDir.h"

namespace vd {
namespace {

constexpr int kPatienceMs = 20'000;

// The simulated service, started alike in every locale: the same traffic from the same seed,
// its time standing still.
std::unique_ptr<test::ChildProcess> startService(const test::TempDir& dir, const std::filesystem::path& socket, const char* locale)
{
    auto service = std::make_unique<test::ChildProcess>(
        std::vector<std::string>{VANTOR_SIM_PATH, "--socket", socket.string(), "--seed", "7", "--tick", "0"},
        test::EnvironmentChanges{{"LC_ALL", locale}}, dir / (socket.stem().string() + ".log"));
    EXPECT_TRUE(service->started());
    EXPECT_TRUE(QTest::qWaitFor([&] { return test::listening(socket); }, kPatienceMs)) << socket;
    return service;
}

// The recent records a service reports, as the texts it wrote them in.
nlohmann::json recentRecordTexts(const std::filesystem::path& socket)
{
    test::WireClient client(socket);
    client.logIn();
    return client.data(8, {{"cmd", "last_count"}, {"count", 50}})["tunnels"];
}

// What vantorctl prints for `arguments` against the service at `socket`, run in `locale`.
std::string vantorctl(const test::TempDir& dir, const std::filesystem::path& socket, std::vector<std::string> arguments,
                      const char* locale)
{
    static int runs = 0;
    arguments.insert(arguments.begin(), {VANTORCTL_PATH, "--socket", socket.string(), "--timeout", "7.5"});
    test::ChildProcess run(std::move(arguments), {{"LC_ALL", locale}}, dir / ("vantorctl" + std::to_string(++runs) + ".out"));
    EXPECT_EQ(run.finish(), 0);
    return run.output();
}

TEST(LocaleTools, TheSimulatorAndVantorctlPrintTheSameBytesInEveryLocale)
{
    test::TempDir dir;
    const auto plainSocket = dir / "plain.sock", commaSocket = dir / "comma.sock";
    const auto plainService = startService(dir, plainSocket, test::kPlainLocale);
    const auto commaService = startService(dir, commaSocket, test::kCommaLocale);

    const auto plainTexts = recentRecordTexts(plainSocket);
    ASSERT_FALSE(plainTexts.empty());
    EXPECT_EQ(recentRecordTexts(commaSocket), plainTexts);
    // The records carry their times as reals, and those are what a locale could change.
    EXPECT_TRUE(std::regex_search(plainTexts.front().get<std::string>(), std::regex(R"("t_start":\d+\.\d+)"))) << plainTexts;

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
