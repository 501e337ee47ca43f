#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "data/VDDataManager.h"
#include "data/VDNotifications.h"
#include "data/VDTunnelInfo.h"
#include "data/VDUDPTunnelInfo.h"
#include "link/QNComPacket.h"
#include "link/ReceivedPacket.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "support/BytesOf.h"
#include "support/DataSuite.h"
#include "support/IdsOf.h"
#include "support/PostCounter.h"
#include "support/RawPeer.h"
#include "support/ServiceLogin.h"
#include "support/TempDir.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;

// A service played packet by packet over a real socket: the test logs the client in and then
// decides every report it sends and reads every request it gets.
struct ScriptedService {
    void send(const Json& packet)
    {
        QNComPacket wire;
        wire.dic() = packet;
        ASSERT_TRUE(peer.send(*wire.toData()));
    }
    // A reply or push with code 1: {"c":1,"t":cmd,"d":data}.
    void report(std::uint64_t cmd, const Json& data) { send({{"c", 1}, {"i", 0}, {"t", cmd}, {"d", data}}); }

    std::optional<Json> nextPacket(std::chrono::milliseconds timeout = 5s)
    {
        const auto bytes = peer.readPacket(timeout);
        const auto packet = bytes ? QNComPacket::initWithData(*bytes) : std::nullopt;
        return packet ? std::optional<Json>(packet->dic()) : std::nullopt;
    }
    // The next request with this "t", skipping others (icon requests, polls).
    std::optional<Json> nextRequest(std::uint64_t cmd, std::chrono::milliseconds timeout = 5s)
    {
        using namespace std::chrono;
        const auto deadline = steady_clock::now() + timeout;
        for (auto left = timeout; left.count() > 0;
             left = duration_cast<milliseconds>(deadline - steady_clock::now())) {
            auto packet = nextPacket(left);
            if (!packet || (*packet)["t"] == cmd)
                return packet;
        }
        return std::nullopt;
    }

    test::RawPeer peer;
};

std::string tunnelText(std::int64_t id, const char* fromHost, const char* name, const char* bundle, double start = 1,
                       double end = 2, std::int64_t endId = -1)
{
    return Json{{"id", id}, {"endId", endId < 0 ? id : endId}, {"type", 1}, {"t_start", start}, {"t_end", end},
                {"host", "example.com"}, {"port", 80}, {"fromHost", fromHost}, {"fromPort", 5000 + id},
                {"processName", name}, {"processIdentifier", 100 + id}, {"bundleIdentifier", bundle}}
        .dump();
}

using test::bytesOf;
using test::PostCounter;
using test::idsOf;
using test::Texts;
using test::textsOf;

class VDDataProcesserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VDDumpDataManager::setUpDumpFolderIn(dir.path());
        processer->setConnectCompleteBlock([this](const std::optional<Error>&) { ++connected; });
        processer->setDisconnectBlock([this](const std::optional<std::string>&) { ++disconnected; });
    }
    void TearDown() override
    {
        processer->disconnect();
        // The stopping link's last hand-offs have nothing to await; a short run lets them land
        // while this test's loop is still there.
        loop.runFor(20ms);
    }

    void connect()
    {
        processer->connectToSocketPath(service.peer.path().string());
        test::acceptAndLogin(service.peer);
        ASSERT_TRUE(loop.runUntil([&] { return connected == 1; }, 5s));
        EXPECT_EQ(processer->connectStatus(), ConnectStatus::connected);
        service.report(1, {{"service_start_time", 1000.0}, {"mitm_enable", true}, {"record_traffic", false},
                               {"local_address", {"10.1.1.1"}}});
    }
    bool eventually(const std::function<bool()>& done) { return loop.runUntil(done, 5s); }
    // The data of the next request with this command, skipping others; null when none came.
    Json requestData(std::uint64_t cmd) { return service.nextRequest(cmd).value_or(Json())["d"]; }

    MainLoop loop;
    test::TempDir dir;
    ScriptedService service{test::RawPeer(dir / "svc.sock")};
    std::shared_ptr<VDDataProcesser> processer = VDDataProcesser::create();
    std::atomic<int> connected{0};
    std::atomic<int> disconnected{0};
};

// One session's current view: the service's info, the switches, then current reports.
TEST_F(VDDataProcesserTest, InfoSwitchesAndCurrentReportsShapeTheSessionsView)
{
    connect();
    ASSERT_TRUE(eventually([&] { return processer->initTime() == 1000.0; }));
    EXPECT_TRUE(processer->mitmEnabled());
    EXPECT_FALSE(processer->recorderEnabled());
    // A switch reply sets its switch, or inverts it without a value; asking changes nothing.
    service.report(11, {{"c", false}});
    service.report(10, Json::object());
    ASSERT_TRUE(eventually([&] { return !processer->mitmEnabled() && processer->recorderEnabled(); }));
    service.report(10, Json::object());
    ASSERT_TRUE(eventually([&] { return !processer->recorderEnabled(); }));
    processer->setMitmEnabled(true);
    EXPECT_EQ(requestData(11), Json({{"switch", true}}));
    EXPECT_FALSE(processer->mitmEnabled()) << "only the service's reply changes the switch";

    PostCounter posts(kVDCurrentTunnelRefreshed);
    service.report(51, {{"tunnels", {tunnelText(1, "::1", "curl", ""), "not json", 42, tunnelText(2, "10.1.1.1", "wget", ""),
                                     tunnelText(3, "192.168.1.20", "Mail", "com.example.mail"),
                                     tunnelText(4, "127.0.0.1", "Safari", ""), tunnelText(5, "192.168.1.20", "x", ""),
                                     tunnelText(6, "10.9.9.9", "y", "")}}});
    ASSERT_TRUE(eventually([&] { return posts.count == 1; }));
    const auto tunnels = processer->currentTunnelInfos();
    ASSERT_EQ(idsOf(tunnels), (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_DOUBLE_EQ(tunnels[0]->initTime(), 1000.0);
    // Local processes without a bundle id merge into one "Local" entry; remote clients are
    // known by their address, once each, sorted by name descending.
    const auto local = processer->currentLocalProcess();
    ASSERT_EQ(local.size(), 1u);
    EXPECT_EQ(local[0].processName, "Local");
    const auto remote = processer->currentRemoteProcess();
    ASSERT_EQ(remote.size(), 2u);
    EXPECT_EQ(textsOf(remote[0].processName, remote[0].title(), remote[1].processName), (Texts{"192.168.1.20", "192.168.1.20", "10.9.9.9"}));

    service.report(53, {{"tunnels", Json::array()}});
    ASSERT_TRUE(eventually([&] { return posts.count == 2; }));
    EXPECT_TRUE(processer->currentTunnelInfos().empty());
    EXPECT_TRUE(processer->currentLocalProcess().empty());
    // A report of another code, or without data, changes nothing.
    service.send({{"c", 2}, {"t", 7}, {"d", {{"tunnels", Json::array()}}}});
    service.send({{"c", 1}, {"t", "7"}, {"d", {{"tunnels", {tunnelText(9, "::1", "z", "")}}}}});
    service.report(7, {{"tunnels", {tunnelText(3, "::1", "c", "")}}});
    ASSERT_TRUE(eventually([&] { return posts.count == 3; }));
    EXPECT_EQ(idsOf(processer->currentTunnelInfos()), std::vector<std::int64_t>{3});

    // The DNS table: hosts file first, then the configured entries, then the cache, in order.
    service.report(13, {{"record", {{{"domain", "c1"}, {"ttl", 5}}, {{"domain", "c2"}}}},
                        {"host_config", {{{"domain", "conf"}, {"ttl", 5}}}},
                        {"host_file", {{{"domain", "h1"}}, {{"domain", "h2"}}, "not an object"}}});
    ASSERT_TRUE(eventually([&] { return processer->dnsInfos().size() == 5; }));
    Texts dns;
    for (const auto& info : processer->dnsInfos())
        dns.push_back(info.domain + " " + info.typeString() + " " + std::to_string(info.ttl));
    EXPECT_EQ(dns, (Texts{"h1 System -1", "h2 System -1", "conf Config -1", "c1 Dynamic 5", "c2 Dynamic -1"}));

    // Debug lines never show captured content.
    log::Capture capture;
    service.send({{"c", 1}, {"i", 5}, {"t", 20}, {"d", {{"tunnel_id", 3}, {"data", "c2VjcmV0IGNvb2tpZQ=="}}}});
    ASSERT_TRUE(eventually([&] {
        const auto lines = capture.lines();
        return std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
            return line.find(R"(|20|: {"tunnel_id":3,"data":"<20 bytes>"})") != std::string::npos;
        });
    }));
    for (const auto& line : capture.lines())
        EXPECT_EQ(line.find("c2VjcmV0"), std::string::npos) << line;
}

// A report as the link hands it over: its records are read from the received packet itself, and
// must be the very records its texts make one by one.
TEST_F(VDDataProcesserTest, ReceivedReportsMakeTheRecordsTheirValidTextsMake)
{
    Json escaped = Json::parse(tunnelText(4, "10.0.0.9", "na\"me\\", "com.example.app"));
    escaped["host"] = "h\u00f4st\n\t\"q\"";
    escaped["headerString"] = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
    escaped["rx"] = "12abc";
    const Texts valid{tunnelText(1, "127.0.0.1", "b", "com.b"), escaped.dump(), tunnelText(3, "::1", "c", "")};
    const Json texts{valid[0], valid[1], "not json", 42, "[1,2]", R"({"id":7,"host":"unterminated)", nullptr,
                     Json{{"id", 8}}, valid[2], R"({"id":9,"port":1e400})", ""};
    for (const std::uint64_t cmd : {7u, 8u}) {
        QNComPacket report = QNComPacket::initWithId(3);
        report.setCmd(cmd);
        report.setData(Json{{"tunnels", texts}, {"other", "x"}});
        auto received = ReceivedPacket::decode(report.toData().value());
        ASSERT_TRUE(received);
        processer->processReceived(*received);
    }
    // The current list keeps the report's order, the recent one the ids'.
    const auto current = processer->currentTunnelInfos();
    const auto recent = processer->recentTunnelInfos();
    ASSERT_EQ(std::pair(current.size(), recent.size()), std::pair(std::size_t{3}, std::size_t{3}));
    EXPECT_EQ(textsOf(current[0]->rawData(), current[1]->rawData(), current[2]->rawData()), valid);
    EXPECT_EQ(textsOf(recent[0]->rawData(), recent[1]->rawData(), recent[2]->rawData()), (Texts{valid[0], valid[2], valid[1]}));
    for (const auto& record : {current[1], recent[2]}) {
        EXPECT_EQ(textsOf(record->host(), record->processName(), record->headerString()),
                  (Texts{"h\xC3\xB4st\n\t\"q\"", "na\"me\\", "GET / HTTP/1.1\r\nHost: x\r\n\r\n"}));
        EXPECT_EQ(record->rx(), 12);
    }
    // The clients come from the same records: before the service's info, every one is remote.
    EXPECT_TRUE(processer->currentLocalProcess().empty());
    EXPECT_EQ(processer->currentRemoteProcess().size(), 3u);
}

TEST_F(VDDataProcesserTest, RecentRepliesMergeSortedAndReloadAsksFromTheLastId)
{
    connect();
    PostCounter posts(kVDRecentTunnelRefreshed);
    processer->reloadRecentRecord();
    EXPECT_EQ(requestData(8), Json({{"cmd", "last_count"}, {"count", 100}}));
    service.report(8, {{"tunnels", {tunnelText(5, "::1", "a", ""), tunnelText(3, "::1", "b", "", 1, 2, 9)}}});
    ASSERT_TRUE(eventually([&] { return posts.count == 1; }));
    EXPECT_EQ(processer->lastRecentId(), 9);
    processer->reloadRecentRecord();
    EXPECT_EQ(requestData(8), Json({{"cmd", "from_count"}, {"from", 9}, {"count", 100}}));
    service.report(8, {{"tunnels", {tunnelText(4, "::1", "c", ""), tunnelText(5, "::1", "changed", ""), tunnelText(7, "::1", "d", "")}}});
    ASSERT_TRUE(eventually([&] { return posts.count == 2; }));
    const auto recent = processer->recentTunnelInfos();
    ASSERT_EQ(idsOf(recent), (std::vector<std::int64_t>{3, 4, 5, 7}));
    EXPECT_EQ(recent[2]->processName(), "a");
    EXPECT_EQ(processer->lastRecentId(), 9);
    // A reply with no records changes nothing and posts nothing; reports are handled in order,
    // so once the one after it has changed the start time, it is past.
    service.report(8, {{"tunnels", Json::array()}});
    service.report(1, {{"service_start_time", 2000.0}});
    ASSERT_TRUE(eventually([&] { return processer->initTime() == 2000.0; }));
    EXPECT_EQ(posts.count, 2);
    EXPECT_EQ(processer->recentTunnelInfos().size(), 4u);

    processer->cleanRecentRecord();
    EXPECT_EQ(posts.count, 3);
    EXPECT_TRUE(processer->recentTunnelInfos().empty());
    EXPECT_TRUE(processer->recentLocalProcess().empty());
    EXPECT_EQ(processer->lastRecentId(), 9);
}

// Newest first, a known id replaced where it stands, and past the cap only the newest kept.
TEST_F(VDDataProcesserTest, UdpRecordsAreListedNewestFirstReplacedInPlaceAndCapped)
{
    connect();
    PostCounter posts(kVDUDPRefreshed);
    const auto udp = [](int id, int status) { return Json{{"tunnel_info", Json{{"id", id}, {"status", status}}.dump()}}; };
    const int total = static_cast<int>(VDDataProcesser::kMaxUDPRecords) + 500;
    for (int id = 1; id <= total; ++id)
        service.report(54, udp(id, 0));
    service.report(54, udp(total - 1, 2));
    service.report(54, {{"tunnel_info", "broken"}});
    service.report(54, udp(total, 0));
    ASSERT_TRUE(loop.runUntil([&] { return posts.count == total + 2; }, 30s));
    const auto list = processer->udpTunnelInfos();
    ASSERT_EQ(list.size(), VDDataProcesser::kMaxUDPRecords);
    EXPECT_EQ(std::pair(list[0]->id_(), list[1]->id_()), std::pair(std::int64_t{total}, std::int64_t{total - 1}));
    EXPECT_EQ(textsOf(list[0]->statusString(), list[1]->statusString()), (Texts{"Active", "Fail"}));
    EXPECT_EQ(list.back()->id_(), total - static_cast<int>(VDDataProcesser::kMaxUDPRecords) + 1);
    processer->cleanUDPRecord();
    EXPECT_TRUE(processer->udpTunnelInfos().empty());
}

TEST_F(VDDataProcesserTest, RecentRecordsBeyondTheCapDropTheOldestAndClientsOnlyTheyHad)
{
    connect();
    PostCounter posts(kVDRecentTunnelRefreshed);
    constexpr std::int64_t kBatch = 5000;
    const auto batches = static_cast<std::int64_t>(VDDataProcesser::kMaxRecentRecords) / kBatch + 1;
    for (std::int64_t batch = 0; batch < batches; ++batch) {
        Json texts = Json::array();
        for (std::int64_t id = batch * kBatch + 1; id <= (batch + 1) * kBatch; ++id)
            texts.push_back(batch == 0 ? tunnelText(id, "::1", "Old", "com.example.old") : tunnelText(id, "::1", "New", "com.example.new"));
        service.report(8, {{"tunnels", std::move(texts)}});
    }
    ASSERT_TRUE(loop.runUntil([&] { return posts.count == batches; }, 60s));

    // The newest, without a gap, up to the cap; of the clients only those they had.
    const auto recent = processer->recentTunnelInfos();
    const auto last = batches * kBatch;
    ASSERT_TRUE(recent.size() <= VDDataProcesser::kMaxRecentRecords && recent.size() >= VDDataProcesser::kMaxRecentRecords * 9 / 10);
    EXPECT_EQ(std::tuple(recent.front()->id_(), recent.back()->id_(), processer->lastRecentId()),
              std::tuple(last - static_cast<std::int64_t>(recent.size()) + 1, last, last));
    const auto clients = processer->recentLocalProcess();
    EXPECT_EQ(clients.size() == 1 ? clients[0].processName : "", "New");
}

// A finished tunnel's body comes from the store, and only when it is not there is the service
// asked; its reply is stored and announced on the main thread. An active tunnel's, asked for and
// read from the store at once, is the body view's active case against the simulated service.
TEST_F(VDDataProcesserTest, BodiesAreAskedForWhenNotStoredThenStoredAndAnnouncedOnTheMainThread)
{
    connect();
    std::vector<VDBodyArrival> arrivals;
    bool offMain = false;
    auto token = NotificationCenter::defaultCenter()->addObserver(kDumpResponseReceive, nullptr, [&](const Notification& n) {
        offMain |= !MainQueue::shared()->isCurrent();
        arrivals.push_back(std::any_cast<VDBodyArrival>(n.userInfo));
    });
    const auto completed = VDTunnelInfo::initWithJSONString(R"({"id":77,"t_start":1,"t_end":2})", 0);
    std::optional<std::optional<Bytes>> body; // none until the completion has run
    const auto read = [&](std::optional<Bytes> data) { body = std::move(data); };
    processer->getDumpDataOfTunnel(*completed, false, read);
    std::optional<Json> request;
    ASSERT_TRUE(eventually([&] { return (request = service.nextRequest(21, 20ms)).has_value(); }));
    EXPECT_EQ((*request)["d"], Json({{"tunnel_id", 77}}));
    EXPECT_FALSE(body) << "the arrival notification answers, not the completion";
    service.report(21, {{"tunnel_id", 77}, {"data", "aGVsbG8"}});
    service.report(21, {{"tunnel_id", "78"}, {"data", "aGVsbG8="}});
    // Reports are handled in order, so once the one after it has arrived the bad one is past.
    service.report(21, {{"tunnel_id", 79}, {"data", "aGVsbG8="}});
    ASSERT_TRUE(eventually([&] { return arrivals.size() == 2; }));
    EXPECT_EQ(std::tuple(offMain, arrivals[0].manager, arrivals[0].id, arrivals[1].id),
              std::tuple(false, processer->dumpManager().get(), std::int64_t{77}, std::int64_t{79}));
    processer->getDumpDataOfTunnel(*completed, false, read);
    ASSERT_TRUE(eventually([&] { return body.has_value(); }));
    EXPECT_EQ(body, bytesOf("hello"));
}

TEST_F(VDDataProcesserTest, TimerPollsEveryTickAndRecentRecordsEveryFifthUntilTheLinkIsLost)
{
    processer->setTimerSettings({Seconds(0.02), Seconds(0.02), Seconds(0.005), Seconds(0.01)});
    connect();
    service.report(8, {{"tunnels", {tunnelText(10, "::1", "a", "", 1, 2, 12)}}});
    ASSERT_TRUE(eventually([&] { return processer->lastRecentId() == 12; }));
    int currentPolls = 0;
    std::vector<Json> recentPolls;
    while (currentPolls < 11) {
        const auto packet = service.nextPacket();
        ASSERT_TRUE(packet);
        if ((*packet)["t"] == 7)
            ++currentPolls;
        else if ((*packet)["t"] == 8)
            recentPolls.push_back((*packet)["d"]);
    }
    ASSERT_GE(recentPolls.size(), 1u);
    EXPECT_LE(recentPolls.size(), 3u);
    EXPECT_EQ(recentPolls[0], Json({{"cmd", "from_to_last"}, {"from", 12}}));

    service.peer.closeConnection();
    ASSERT_TRUE(eventually([&] { return disconnected == 1; }));
    EXPECT_EQ(processer->connectStatus(), ConnectStatus::disconnected);
}

// Each kind of link takes its own range: a port out of it is refused at once, never cut to 16
// bits. Every edge of both ranges is here; the connect window and vantorctl try only where the
// two differ. The refused come first, so no attempt of an accepted one can end among them.
TEST_F(VDDataProcesserTest, PortsOutsideTheirRangeAreRefusedBeforeAnyLink)
{
    const std::tuple<bool, std::int64_t, bool> cases[] = {{false, 0, false}, {true, 65535, false},
                                                          {false, 1, true},  {false, 65535, true},
                                                          {true, 0, true},   {true, 65534, true}};
    for (const auto& [usb, port, accepted] : cases) {
        SCOPED_TRACE(std::to_string(port) + (usb ? " usb" : " tcp"));
        log::Capture capture;
        const int before = disconnected;
        usb ? processer->connectToUSBPort(port, "pw") : processer->connectToHost("127.0.0.1", port, "pw");
        EXPECT_EQ(capture.contains("Connect fail with error: invalid port " + std::to_string(port)), !accepted);
        if (!accepted) {
            EXPECT_EQ(disconnected, before + 1);
            EXPECT_EQ(processer->connectStatus(), ConnectStatus::disconnected);
        }
    }
}

TEST_F(VDDataProcesserTest, ListCopiesAreSafeWhileReportsArrive)
{
    connect();
    std::atomic<std::size_t> seen{0};
    // They read until the test ends, however it ends.
    std::vector<std::jthread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&](std::stop_token stop) {
            while (!stop.stop_requested()) {
                for (const auto& tunnel : processer->currentTunnelInfos())
                    seen += tunnel->host().size() > 0;
                seen += processer->currentLocalProcess().size() + processer->recentTunnelInfos().size();
            }
        });
    }
    PostCounter posts(kVDCurrentTunnelRefreshed), recentPosts(kVDRecentTunnelRefreshed);
    for (int report = 0; report < 50; ++report) {
        Json texts = Json::array();
        for (int i = 0; i < 40; ++i)
            texts.push_back(tunnelText(report * 100 + i, i % 2 ? "::1" : "192.168.7.7", i % 3 ? "p" : "q", ""));
        service.report(7, {{"tunnels", texts}});
        service.report(8, {{"tunnels", {tunnelText(report, "::1", "r", "")}}});
    }
    ASSERT_TRUE(eventually([&] { return posts.count == 50 && recentPosts.count == 50; }));
    EXPECT_GT(seen.load(), 0u);
    EXPECT_EQ(processer->recentTunnelInfos().size(), 50u);
}

// Closing a window removes its id, which the application tests follow to the end of its link.
TEST(VDDataManager, BindingAnIdAgainReplacesItsProcesserAndRemovingDisconnectsIt)
{
    auto& registry = VDDataManager::sharedInstance();
    const auto first = registry.bindProcesserId("REMtest:1@host");
    const auto second = registry.bindProcesserId("REMtest:1@host");
    EXPECT_EQ(registry.getProcesserOfId("REMtest:1@host"), second);
    EXPECT_NE(first->dumpId(), second->dumpId());
    EXPECT_NE(first->connectStatus(), ConnectStatus::disconnected) << "a replaced processer is not disconnected";
    registry.removeId("REMtest:1@host");
    registry.removeId("never bound");
    EXPECT_EQ(second->connectStatus(), ConnectStatus::disconnected);
}

} // namespace
} // namespace vd
