#include <sstream>

#include <gtest/gtest.h>

#include "SimHarness.h"
#include "WireClient.h"
#include "support/ChildProcess.h"
#include "support/Eventually.h"
#include "support/Listening.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
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

// The program logs every packet a client sends and removes its socket on exit; its seed and
// scale give the traffic the library gives, which other tests rely on when they compare two
// services started alike, and another seed gives other traffic.
TEST(SimulatorProcess, LogsWhatItReceivesAndItsSeedGivesTheLibrarysTraffic)
{
    test::TempDir dir;
    const auto socket = dir / "Vantor" / "Tmp" / "db.connect";
    const auto process = startSimulator(dir, socket, {"--scale", "40", "--seed", "9", "--tick", "0"});
    ASSERT_TRUE(test::eventually([&] { return test::listening(socket); }));
    json viaProgram;
    {
        test::WireClient client(socket);
        client.logIn();
        viaProgram = client.data(7);
    }
    EXPECT_EQ(process->stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(socket));
    std::vector<json> received;
    std::istringstream log(test::readFile(dir / "sim.log"));
    for (std::string line; std::getline(log, line);) {
        if (const auto entry = json::parse(line); entry.contains("recv"))
            received.push_back(entry["recv"]);
    }
    const json password{{"v", 1}, {"c", 1}, {"i", 1}, {"d", {{"password", contract::kLocalPassword}}}};
    const json identity{{"v", 1}, {"c", 1}, {"i", 0}}, tunnels{{"v", 1}, {"c", 1}, {"i", 2}, {"t", 7}};
    EXPECT_EQ(received, (std::vector<json>{identity, password, tunnels}));

    EXPECT_EQ(viaProgram["tunnels"].size(), 40u);
    for (const std::uint64_t seed : {9, 10}) {
        const auto path = dir / ("seed" + std::to_string(seed));
        test::SimHarness simulator({.socketPath = path, .seed = seed, .scale = 40, .tickInterval = 0ms});
        test::WireClient client(path);
        client.logIn();
        EXPECT_EQ(viaProgram == client.data(7), seed == 9) << seed;
    }
}

TEST(SimulatorProcess, RefusesToTakeOverALiveSocket)
{
    test::TempDir dir;
    const auto socket = dir / "db.connect";
    test::SimHarness first({.socketPath = socket});
    // It gives up at once, leaving the running service's socket in place.
    EXPECT_NE(startSimulator(dir, socket)->finish(), 0);
    test::WireClient client(socket);
    EXPECT_EQ(client.logIn()["t"], 1);
}

} // namespace
} // namespace vd
