#include <atomic>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "SimHarness.h"
#include "platform/Log.h"
#include "support/Eventually.h"
#include "support/FreePort.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using contract::HandshakeState;
using nlohmann::json;

enum class Transport { Unix, Tcp };
constexpr const char* kPassword = "secret-pw";

class ClientManagerTest : public ::testing::TestWithParam<Transport> {
protected:
    void TearDown() override { manager->stop(); }

    void startSimulator()
    {
        simulator.emplace(sim::SimulatorOptions{.socketPath = socket, .tcpPort = 0, .password = kPassword});
    }
    void start(const std::string& password = kPassword)
    {
        if (GetParam() == Transport::Unix)
            manager->startWithSocketPath(socket.string());
        else
            manager->startWithHost("127.0.0.1", simulator->tcpPort(), password);
    }
    void login()
    {
        startSimulator();
        start();
        ASSERT_TRUE(probe.waitFor([&] { return probe.completions == 1; }));
    }
    std::string expectedPassword() const { return GetParam() == Transport::Unix ? contract::kLocalPassword : kPassword; }
    // Once the service saw a connection close and the reports already under way are done, any
    // callback about that connection would have come.
    bool closedAndSettled(std::size_t closes = 1)
    {
        return test::eventually([&] {
            return std::ranges::count(simulator->lines(), json{{"conn", closes}, {"event", "close"}}) == 1;
        }) && test::flush(*QNComClientManager::communicationQueue());
    }

    test::TempDir dir;
    std::filesystem::path socket = dir / "db.connect";
    std::optional<test::SimHarness> simulator;
    std::shared_ptr<QNComClientManager> manager = QNComClientManager::create();
    test::ManagerProbe probe{*manager};
};

// The login sends the identity, then the password, under ids 0 and 1; commands issued while it
// runs follow it in order, and every command sends exactly its type and data.
TEST_P(ClientManagerTest, LoginThenEveryCommandWithExactlyItsTypeAndData)
{
    struct Command {
        std::function<void(QNComClientManager&)> send;
        std::uint64_t t;
        json d; // null: no "d" at all
    };
    const std::vector<Command> commands = {
        {[](auto& m) { m.requestCurrentTunnels(); }, 7, nullptr},
        {[](auto& m) { m.closeTunnel(9007199254740993); }, 18, {{"tunnel_id", 9007199254740993}}},
        {[](auto& m) { m.requestInfo(); }, 1, nullptr},
        {[](auto& m) { m.requestConfiguration(); }, 2, nullptr},
        {[](auto& m) { m.changeOutboundMode(3); }, 4, {{"mode", 3}}},
        {[](auto& m) { m.requestHistoryTunnels(); }, 8, nullptr},
        {[](auto& m) { m.requestHistoryTunnelLastCount(500); }, 8, {{"cmd", "last_count"}, {"count", 500}}},
        {[](auto& m) { m.requestHistoryTunnelStartIdEndId(10, 20); }, 8, {{"cmd", "from_to"}, {"from", 10}, {"to", 20}}},
        {[](auto& m) { m.requestHistoryTunnelStartIdCount(10, 5); }, 8, {{"cmd", "from_count"}, {"from", 10}, {"count", 5}}},
        {[](auto& m) { m.requestHistoryTunnelStartId(-1); }, 8, {{"cmd", "from_to_last"}, {"from", -1}}},
        {[](auto& m) { m.requestRecentProcesses(); }, 9, nullptr},
        {[](auto& m) { m.changeTrafficRecord(true); }, 10, {{"switch", true}}},
        {[](auto& m) { m.changeMitMEnable(false); }, 11, {{"switch", false}}},
        {[](auto& m) { m.requestTrafficInfo(); }, 12, nullptr},
        {[](auto& m) { m.requestDNSRecords(); }, 13, nullptr},
        {[](auto& m) { m.changeAutoPushTunnel(true); }, 14, {{"switch", true}}},
        {[](auto& m) { m.changeAutoPushDNS(false); }, 15, {{"switch", false}}},
        {[](auto& m) { m.purgeDNSRecords(); }, 16, nullptr},
        {[](auto& m) { m.removeDNSRecordOfDomain("example.org"); }, 17, {{"domain", "example.org"}}},
        {[](auto& m) { m.requestIcon("com.example.app"); }, 19, {{"bundleId", "com.example.app"}}},
        {[](auto& m) { m.getTunnelRequestData(42); }, 20, {{"tunnel_id", 42}}},
        {[](auto& m) { m.getTunnelResponseData(43); }, 21, {{"tunnel_id", 43}}},
        {[](auto& m) { m.changeAutoPushUDP(true); }, 22, {{"switch", true}}},
    };
    startSimulator();
    start();
    // The first two wait for the login; an icon request without a bundle id sends nothing.
    for (std::size_t k = 0; k < commands.size(); ++k) {
        if (k == 2) {
            ASSERT_TRUE(probe.waitFor([&] { return probe.completions == 1; }));
        }
        commands[k].send(*manager);
    }
    manager->requestIcon("");
    EXPECT_EQ(manager->state(), HandshakeState::ready);
    ASSERT_TRUE(simulator->waitForReceived(2 + commands.size()));
    const auto received = simulator->received();
    EXPECT_EQ(received[0], json::parse(R"({"v":1,"c":1,"i":0})"));
    EXPECT_EQ(received[1], (json{{"v", 1}, {"c", 1}, {"i", 1}, {"d", {{"password", expectedPassword()}}}}));
    for (std::size_t k = 0; k < commands.size(); ++k) {
        json expected{{"v", 1}, {"c", 1}, {"i", 2 + k}, {"t", commands[k].t}};
        if (!commands[k].d.is_null())
            expected["d"] = commands[k].d;
        EXPECT_EQ(received[2 + k], expected) << "command " << k;
    }
    // The service's unasked information reaches the owner once logged in.
    std::lock_guard lock(probe.mutex);
    ASSERT_FALSE(probe.packets.empty());
    EXPECT_EQ(probe.packets[0].cmd(), 1u);
}

// After stop, commands are refused, and no callback runs, not even one whose packet was being
// read as stop came.
TEST_P(ClientManagerTest, StopEndsTheLinkWithoutAnyLaterCallback)
{
    login();
    std::atomic<bool> stopped{false};
    std::atomic<int> received{0};
    std::atomic<int> late{0};
    manager->setReceiveBlock([&](ReceivedPacket&) {
        ++received;
        std::this_thread::sleep_for(1ms);
        if (stopped)
            ++late;
    });
    for (int i = 0; i < 300; ++i)
        manager->requestInfo();
    ASSERT_TRUE(test::eventually([&] { return received > 10; }));
    log::Capture capture;
    manager->stop();
    stopped = true;
    EXPECT_EQ(manager->state(), HandshakeState::noLink);
    manager->requestCurrentTunnels();
    ASSERT_TRUE(closedAndSettled());
    EXPECT_EQ(late, 0);
    EXPECT_TRUE(capture.contains("Message not sent because of socket closed"));
    EXPECT_EQ(std::ranges::count(simulator->received(), json{{"v", 1}, {"c", 1}, {"i", 302}, {"t", 7}}), 0);
    std::lock_guard lock(probe.mutex);
    EXPECT_TRUE(probe.ends.empty());
}

TEST_P(ClientManagerTest, CommandsFromFourThreadsArriveWholeInIdOrder)
{
    login();
    constexpr int kThreads = 4;
    constexpr int kEach = 250;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                if (i % 2)
                    manager->closeTunnel(t * 1000 + i);
                else
                    manager->removeDNSRecordOfDomain("host-" + std::to_string(t) + "-" + std::to_string(i) + ".example");
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    ASSERT_TRUE(simulator->waitForReceived(2 + kThreads * kEach, 20s));
    const auto received = simulator->received();
    ASSERT_EQ(received.size(), 2u + kThreads * kEach);
    for (std::size_t k = 2; k < received.size(); ++k) {
        ASSERT_TRUE(received[k].is_object()) << "packet " << k << " did not decode";
        ASSERT_EQ(received[k]["i"], k);
        ASSERT_TRUE(received[k]["t"] == 18 || received[k]["t"] == 17);
    }
}

// A new start replaces the link without reporting the old end, and ids keep counting; the
// local socket always logs in with the built-in password, whatever the last one was.
TEST_P(ClientManagerTest, StartingAgainReplacesTheLinkWithoutReportingTheOldEnd)
{
    login();
    manager->startWithSocketPath(socket.string());
    ASSERT_TRUE(probe.waitFor([&] { return probe.completions == 2; }));
    ASSERT_TRUE(closedAndSettled());
    EXPECT_EQ(manager->state(), HandshakeState::ready);
    std::lock_guard lock(probe.mutex);
    EXPECT_TRUE(probe.ends.empty());
    const auto received = simulator->received();
    ASSERT_EQ(received.size(), 4u);
    EXPECT_EQ(received[1]["d"]["password"], expectedPassword());
    EXPECT_EQ(received[2], json::parse(R"({"v":1,"c":1,"i":2})"));
    const json localLogIn{{"v", 1}, {"c", 1}, {"i", 3}, {"d", {{"password", contract::kLocalPassword}}}};
    EXPECT_EQ(received[3], localLogIn);
}

// Each end carries its cause, so an owner never has to read one from a text.
TEST_P(ClientManagerTest, EndsTellWhetherTheServiceWasUnreachableClosedOrRefusedTheLogin)
{
    const auto ended = [&](std::size_t n) { return probe.waitFor([&] { return probe.ends.size() == n; }); };
    const auto& ends = probe.ends;
    // Nothing listens yet: at the socket path, or at a TCP port that was just free.
    if (GetParam() == Transport::Unix)
        manager->startWithSocketPath(socket.string());
    else
        manager->startWithHost("127.0.0.1", test::unusedTcpPort(), kPassword);
    ASSERT_TRUE(ended(1));
    EXPECT_EQ(ends[0].cause, LinkEndCause::Unreachable);
    ASSERT_TRUE(ends[0].errorDescription);
    if (GetParam() == Transport::Unix) {
        EXPECT_EQ(*ends[0].errorDescription, "No such file or directory");
    }

    // The local socket always logs in with the built-in password.
    startSimulator();
    log::Capture capture;
    start("not-the-password");
    if (GetParam() == Transport::Tcp) {
        ASSERT_TRUE(ended(2));
        EXPECT_EQ(ends[1].cause, LinkEndCause::LoginRefused);
        EXPECT_EQ(ends[1].errorDescription, "Wrong password");
        EXPECT_TRUE(capture.contains("Error: Wrong password"));
        EXPECT_EQ(manager->state(), HandshakeState::noLink);
        start();
    }
    ASSERT_TRUE(test::eventually([&] { return manager->state() == HandshakeState::ready; }));
    simulator->closeAllConnections();
    ASSERT_TRUE(ended(GetParam() == Transport::Tcp ? 3 : 2));
    EXPECT_EQ(ends.back().cause, LinkEndCause::Closed);
    EXPECT_EQ(ends.back().errorDescription, "The service closed the connection");
    EXPECT_TRUE(capture.contains("disconnect: The service closed the connection"));
    EXPECT_EQ(manager->state(), HandshakeState::noLink);
}

INSTANTIATE_TEST_SUITE_P(Transports, ClientManagerTest, ::testing::Values(Transport::Unix, Transport::Tcp),
                         [](const auto& info) { return info.param == Transport::Unix ? "Unix" : "Tcp"; });

} // namespace
} // namespace vd
