#include <gtest/gtest.h>

#include "SimHarness.h"
#include "WireClient.h"
#include "platform/Log.h"
#include "support/RawPeer.h"
#include "support/ServiceLogin.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using contract::HandshakeState;
using nlohmann::json;

// A service played by hand, to reach the corners a well-behaved service never shows.
class HandshakeEdgeTest : public ::testing::Test {
protected:
    // Each case takes the connection itself, as the shared login takes it.
    void SetUp() override { manager->startWithSocketPath(peer.path().string()); }
    void TearDown() override { manager->stop(); }

    test::TempDir dir;
    test::RawPeer peer{dir / "svc.sock"};
    std::shared_ptr<QNComClientManager> manager = QNComClientManager::create();
    test::ManagerProbe probe{*manager};
};

TEST_F(HandshakeEdgeTest, WrongGreetingLeavesTheLinkOpenAndSilent)
{
    ASSERT_TRUE(peer.accept());
    ASSERT_TRUE(peer.send(test::packetBytes({{"c", 1}, {"m", "0000000000000000000000000000000"}})));
    ASSERT_TRUE(peer.send(test::packetBytes({{"c", 1}, {"m", contract::kGreetingToken}})));
    // Nothing to await: no read follows a wrong greeting, so not even the right one is answered.
    EXPECT_FALSE(peer.readPacket(200ms));
    EXPECT_FALSE(peer.waitForClose(0ms));
    EXPECT_EQ(manager->state(), HandshakeState::waitingForGreeting);
    std::lock_guard lock(probe.mutex);
    EXPECT_EQ(probe.completions, 0);
    EXPECT_TRUE(probe.ends.empty());
}

// After the login a packet that does not decode costs only itself, and one far larger than the
// login's limit arrives whole.
TEST_F(HandshakeEdgeTest, AfterLoginABadPacketCostsOnlyItselfAndALargeOneArrives)
{
    test::acceptAndLogin(peer);
    ASSERT_TRUE(probe.waitFor([&] { return probe.completions == 1; }));
    log::Capture capture;
    ASSERT_TRUE(peer.send(std::string("not base64 at all!\xDB\xBC")));
    const std::string body(4u << 20, 'b');
    const json large{{"c", 1}, {"t", 21}, {"d", {{"tunnel_id", 1}, {"data", body}}}};
    ASSERT_TRUE(peer.send(test::packetBytes(large)));
    ASSERT_TRUE(probe.waitFor([&] { return probe.packets.size() == 1; }));
    std::lock_guard lock(probe.mutex);
    EXPECT_EQ(probe.packets[0].cmd(), 21u);
    EXPECT_EQ((*probe.packets[0].data())["data"].get_ref<const std::string&>().size(), body.size());
    EXPECT_TRUE(capture.contains("Communication decode fail"));
    EXPECT_TRUE(probe.ends.empty());
}

TEST_F(HandshakeEdgeTest, RejectedIdentityWithoutMessageStillTellsTheOwner)
{
    ASSERT_TRUE(peer.accept());
    ASSERT_TRUE(peer.send(test::packetBytes({{"c", 1}, {"m", contract::kGreetingToken}})));
    ASSERT_TRUE(peer.readPacket()) << "the identity";
    log::Capture capture;
    ASSERT_TRUE(peer.send(test::packetBytes({{"c", 5}})));
    ASSERT_TRUE(probe.waitFor([&] { return !probe.ends.empty(); }));
    EXPECT_TRUE(peer.waitForClose());
    std::lock_guard lock(probe.mutex);
    EXPECT_EQ(probe.ends.size(), 1u);
    EXPECT_EQ(probe.ends[0].errorDescription, "Authentication failed");
    EXPECT_TRUE(capture.contains("Error: (null)"));
}

TEST_F(HandshakeEdgeTest, OversizedPacketBeforeLoginEndsTheLink)
{
    ASSERT_TRUE(peer.accept());
    ASSERT_TRUE(peer.send(std::string(contract::kMaxPacketBytesBeforeLogin + 4096, 'A')));
    ASSERT_TRUE(probe.waitFor([&] { return !probe.ends.empty(); }));
    std::lock_guard lock(probe.mutex);
    const auto description = probe.ends[0].errorDescription.value_or("");
    EXPECT_NE(description.find(std::to_string(contract::kMaxPacketBytesBeforeLogin)), std::string::npos);
    EXPECT_EQ(manager->state(), HandshakeState::noLink);
}

// The missing socket's end is in ClientManagerTest; a path no socket can have, or an entered USB
// port with no device port above it, is refused at the call, and no link is left waiting.
TEST(ClientManagerConnect, BadAddressesAreRefusedAtOnce)
{
    const std::pair<std::function<void(QNComClientManager&)>, std::string> starts[] = {
        {[](QNComClientManager& m) { m.startWithSocketPath(std::string(300, 'x')); },
         "Connect fail with error: "},
        {[](QNComClientManager& m) { m.startWithUSBPort(65535, contract::kLocalPassword); },
         "Connect fail with error: invalid port 65535"},
    };
    for (const auto& [start, logged] : starts) {
        auto manager = QNComClientManager::create();
        test::ManagerProbe probe(*manager);
        log::Capture capture;
        start(*manager);
        const auto lines = capture.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind(logged, 0), 0u) << lines[0];
        manager->requestInfo();
        EXPECT_TRUE(capture.contains("Message not sent because of socket closed"));
    }
}

} // namespace
} // namespace vd
