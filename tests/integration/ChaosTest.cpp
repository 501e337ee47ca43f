#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "ChaosPlan.h"
#include "SimHarness.h"
#include "data/VDDataProcesser.h"
#include "data/VDICONImageManager.h"
#include "data/VDTunnelInfo.h"
#include "platform/MainLoop.h"
#include "support/Eventually.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
namespace fs = std::filesystem;

// The icon cache is one per process and picks its folder once: a caches folder of the test
// program's own, kept until it exits.
const fs::path& cachesFolder()
{
    static const test::TempDir caches;
    static const bool pointed = setenv("XDG_CACHE_HOME", caches.path().c_str(), 1) == 0;
    EXPECT_TRUE(pointed);
    return caches.path();
}

// The acts the service logged on its first connection, but for its answers to requests.
std::vector<json> firstConnectionActs(const std::vector<json>& lines)
{
    std::vector<json> acts;
    for (const auto& line : lines) {
        if (line.value("conn", 0) == 1 && line.contains("chaos") && !line.contains("reply_to"))
            acts.push_back(line);
    }
    return acts;
}

// The dashboard's data side (processor, client manager, dump store, icon cache) against a
// hostile service over the local socket, logging in again whenever the link goes.
class ChaosTest : public ::testing::TestWithParam<std::uint64_t> {
protected:
    void SetUp() override
    {
        cachesFolder();
        VDDumpDataManager::setUpDumpFolderIn(dir.path());
        processer->setTimerSettings({Seconds{0.1}, Seconds{0.2}, Seconds{0.02}, Seconds{0.05}});
        processer->setConnectCompleteBlock([this](const std::optional<Error>&) {
            events.push_back('L');
            ++logins;
            processer->autoTunnelRefresh(true);
            processer->autoDNSRefresh(true);
            processer->autoUDPRefresh(true);
            processer->reloadRecentRecord();
        });
        processer->setDisconnectBlock([this](const std::optional<std::string>&) { events.push_back('D'); });
    }
    void TearDown() override { disconnect(); }
    void disconnect()
    {
        processer->disconnect();
        loop.runUntil([&] { return processer->connectStatus() == ConnectStatus::disconnected; }, 5s);
    }

    // Serves for `duration`, asking for bodies of recent records as a body view would, and
    // logging in again after every loss, or when a login stalls (a wrong greeting leaves the
    // link silent), as the user would.
    void serve(std::chrono::milliseconds duration)
    {
        using Clock = std::chrono::steady_clock;
        const auto end = Clock::now() + duration;
        auto attempt = Clock::now();
        std::size_t asked = 0;
        while (Clock::now() < end) {
            const auto status = processer->connectStatus();
            if (status == ConnectStatus::disconnected || (status == ConnectStatus::connecting && Clock::now() - attempt > 3s)) {
                processer->connectToSocketPath(socket.string());
                attempt = Clock::now();
            }
            const auto recent = processer->recentTunnelInfos();
            if (asked < recent.size()) {
                processer->getTunnelResponseData(recent[asked]->id_());
                processer->getTunnelRequestData(recent[asked]->id_());
                ++asked;
            }
            // The pace of a user at work, not a wait for anything: the service is hostile all along.
            loop.runFor(50ms);
        }
    }

    MainLoop loop;
    test::TempDir dir;
    fs::path socket = dir / "s.sock";
    std::shared_ptr<VDDataProcesser> processer = VDDataProcesser::create();
    std::atomic<int> logins{0};
    // 'L' for a login, 'D' for a lost link, in order; written from the link's queue.
    std::vector<char> events;
};

TEST_P(ChaosTest, TheDataSideSurvivesStaysBoundedAndLogsInAgain)
{
    test::SimHarness service({.socketPath = socket, .tickInterval = 50ms, .chaosSeed = GetParam()});
    processer->connectToSocketPath(socket.string());
    serve(4s);
    disconnect();

    const auto lines = service.lines();
    std::size_t acts = 0;
    for (const auto& line : lines)
        acts += line.contains("chaos");
    EXPECT_GE(acts, 5u) << "the service was not hostile enough to tell anything";
    EXPECT_GE(logins.load(), 1);
    // Every lost link was followed by a login, but for one lost in the last moments.
    const auto lastLogin = std::find(events.rbegin(), events.rend(), 'L');
    EXPECT_LE(std::count(events.rbegin(), lastLogin, 'D'), 1);

    // Floods of fresh UDP ids and repeated records do not grow the tables without bound.
    EXPECT_LE(processer->udpTunnelInfos().size(), VDDataProcesser::kMaxUDPRecords);
    const auto recent = processer->recentTunnelInfos();
    std::set<std::int64_t> ids;
    for (const auto& record : recent)
        ids.insert(record->id_());
    EXPECT_EQ(ids.size(), recent.size()) << "a repeated record was kept twice";
    EXPECT_TRUE(std::is_sorted(recent.begin(), recent.end(), [](const auto& a, const auto& b) { return a->id_() < b->id_(); }));

    // Stored files are only where they belong, under names of the expected form.
    const std::regex dumpName("[A-Za-z0-9]{6}_(req|rsp)_-?[0-9]+_dumpfile\\.bin");
    for (const auto& entry : fs::directory_iterator(dir / "Dump"))
        EXPECT_TRUE(std::regex_match(entry.path().filename().string(), dumpName)) << entry.path();
    const fs::path icons = VDICONImageManager::sharedInstance()->localIconFolderPath();
    for (const auto& root : {cachesFolder(), dir.path()}) {
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const auto name = entry.path().filename().string();
            EXPECT_EQ(name.find("vantor-chaos"), std::string::npos) << "an icon escaped its folder: " << entry.path();
            if (entry.path().parent_path() == icons) {
                EXPECT_TRUE(VDICONImageManager::isSafeBundleId(name)) << entry.path();
            }
        }
    }
    EXPECT_FALSE(fs::exists("/tmp/vantor-chaos-absolute.png"));
}

INSTANTIATE_TEST_SUITE_P(Seeds, ChaosTest, ::testing::Values(1u, 2u, 3u, 5u, 8u),
                         [](const auto& info) { return "Seed" + std::to_string(info.param); });

// The same seed replays the same acts, so a failure of the suite above can be replayed.
TEST(ChaosLog, TheSameSeedGivesTheSameActsOnEveryConnection)
{
    // A seed whose first connection is let in at once, so both runs log in alike.
    std::uint64_t seed = 1;
    while (sim::ChaosPlan(seed, 1, sim::ChaosPlan::Stream::acts).disturbsLogin())
        ++seed;
    std::vector<std::vector<json>> runs;
    for (int run = 0; run < 2; ++run) {
        test::TempDir dir;
        test::SimHarness service({.socketPath = dir / "s.sock", .tickInterval = 50ms, .chaosSeed = seed});
        const auto manager = QNComClientManager::create();
        test::ManagerProbe probe(*manager);
        manager->startWithSocketPath((dir / "s.sock").string());
        ASSERT_TRUE(probe.waitFor([&] { return probe.completions == 1; }));
        // Acts come on the service's clock; a slow machine (or a sanitizer) only delays them.
        test::eventually([&] { return firstConnectionActs(service.lines()).size() >= 3; });
        manager->stop();
        runs.push_back(firstConnectionActs(service.lines()));
    }
    const auto common = std::min(runs[0].size(), runs[1].size());
    ASSERT_GE(common, 3u);
    for (std::size_t i = 0; i < common; ++i)
        EXPECT_EQ(runs[0][i], runs[1][i]) << "act " << i;
}

} // namespace
} // namespace vd
