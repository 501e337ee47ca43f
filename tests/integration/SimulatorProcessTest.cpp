#include <sstream>

#include <gtest/gtest.h>

#include "SimHarness.h"
#include "WireClient.h"
#include "support/Eventually.h"
#include "support/ChildProcess.h"
#include "support/Listening.h"

namespace vd {
namespace {

using nlohmann::json;

// The installed program, not just its library: started as a person would start it.
std::unique_ptr<test::ChildProcess> startSimulator(const test::TempDir& dir, const std::filesystem::path& socket,
                                                   std::vector<std::string> options = {})
{
    options.insert(options.begin(), {VANTOR_SIM_PATH, "--socket", socket.string(), "--log", (dir / "sim.log").string()});
    auto process = std::make_unique<test::ChildProcess>(std::move(options), test::EnvironmentChanges{}, dir / "sim.out");
    EXPECT_TRUE(process->started());
    return process;
}

TEST(SimulatorProcess, LogsEveryPacketAClientSendsAndRemovesItsSocketOnExit)
{
    test::TempDir dir;
    const auto socket = dir / "Vantor" / "Tmp" / "db.connect";
    const auto process = startSimulator(dir, socket);
    ASSERT_TRUE(test::eventually([&] { return test::listening(socket); }));
    {
        auto manager = QNComClientManager::create();
        test::ManagerProbe probe(*manager);
        manager->startWithSocketPath(socket.string());
        ASSERT_TRUE(probe.waitFor([&] { return probe.completions == 1; }));
        manager->requestHistoryTunnelLastCount(100);
        EXPECT_TRUE(probe.waitFor([&] { return probe.packets.size() == 2; })) << "the information, then the answer";
        manager->stop();
    }
    EXPECT_EQ(process->stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(socket));

    std::vector<json> received;
    std::istringstream log(test::readFile(dir / "sim.log"));
    for (std::string line; std::getline(log, line);) {
        if (const auto entry = json::parse(line); entry.contains("recv"))
            received.push_back(entry["recv"]);
    }
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0], json::parse(R"({"v":1,"c":1,"i":0})"));
    EXPECT_EQ(received[1]["d"]["password"], contract::kLocalPassword);
    EXPECT_EQ(received[2], json::parse(R"({"v":1,"c":1,"i":2,"t":8,"d":{"cmd":"last_count","count":100}})"));
}

TEST(SimulatorProcess, SeedAndScaleOptionsGiveTheSameTrafficAsInProcessAndAnotherSeedOther)
{
    test::TempDir dir;
    const auto socket = dir / "db.connect";
    const auto process = startSimulator(dir, socket, {"--scale", "40", "--seed", "9", "--tick", "0"});
    ASSERT_TRUE(test::eventually([&] { return test::listening(socket); }));
    json viaProgram;
    {
        test::WireClient client(socket);
        client.logIn();
        viaProgram = client.data(7);
    }
    EXPECT_EQ(process->stop(), 0);

    sim::SimulatorOptions options;
    options.socketPath = dir / "other.sock";
    options.seed = 9;
    options.scale = 40;
    options.tickInterval = std::chrono::milliseconds(0);
    test::SimHarness simulator(options);
    test::WireClient client(dir / "other.sock");
    client.logIn();
    EXPECT_EQ(viaProgram["tunnels"].size(), 40u);
    EXPECT_EQ(viaProgram, client.data(7));
    // Other tests compare two services started alike, and only a seed may tell them apart.
    options.socketPath = dir / "third.sock";
    options.seed = 10;
    test::SimHarness reseeded(options);
    test::WireClient third(dir / "third.sock");
    third.logIn();
    EXPECT_NE(viaProgram, third.data(7));
}

TEST(SimulatorProcess, RefusesToTakeOverALiveSocket)
{
    test::TempDir dir;
    const auto socket = dir / "db.connect";
    sim::SimulatorOptions options;
    options.socketPath = socket;
    test::SimHarness first(options);

    // It gives up at once, leaving the running service's socket in place.
    EXPECT_NE(startSimulator(dir, socket)->finish(), 0);
    EXPECT_TRUE(std::filesystem::exists(socket));
    test::WireClient client(socket);
    EXPECT_EQ(client.logIn()["t"], 1);
}

} // namespace
} // namespace vd
