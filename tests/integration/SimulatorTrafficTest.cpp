#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include <QImage>
#include <gtest/gtest.h>

#include "SimHarness.h"
#include "platform/Base64.h"

extern char** environ;

namespace vd {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using Dictionary = QNComPacket::Dictionary;

const std::vector<std::string> kTunnelKeys{
    "id", "endId", "type", "closeReason", "t_start", "t_server_ready", "t_dns_resolved", "t_rule_found", "t_proxy_ready",
    "t_close", "t_end", "host", "port", "headerString", "headerModified", "modifiedHeaderString", "responseHeader",
    "responseCode", "responseModified", "SSLHost", "SSLHeaderString", "SSLHeaderModified", "SSLModifiedHeaderString",
    "SSLResponseHeader", "SSLResponseCode", "SSLResponseModified", "hasReceive", "hasSend", "processName",
    "processIdentifier", "bundleIdentifier", "processPath", "fromHost", "fromPort", "ipAddr", "outboundMode", "ruleInfo",
    "policyName", "rx", "tx", "rx_speed", "tx_speed", "rx_max_speed", "tx_max_speed"};
const std::vector<std::string> kUdpKeys{"id",      "status",       "direction",  "fromHost", "fromPort", "host",  "port",
                                        "outboundMode", "ruleInfo", "policyName", "t_time",   "t_rule_found", "t_end"};

std::string decode64(const Dictionary& text)
{
    const auto bytes = base64::decodeStrict(text.get<std::string>());
    EXPECT_TRUE(bytes) << "not Base64";
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

std::vector<json> tunnelsOf(const QNComPacket& packet)
{
    std::vector<json> tunnels;
    const auto* data = packet.data();
    if (!data || !data->contains("tunnels"))
        return tunnels;
    for (const auto& text : (*data)["tunnels"])
        tunnels.push_back(json::parse(text.get<std::string>()));
    return tunnels;
}

// The header block and body of a captured HTTP message.
std::pair<std::string, std::string> splitMessage(const std::string& message)
{
    const auto end = message.find("\r\n\r\n");
    if (end == std::string::npos)
        return {message, {}};
    return {message.substr(0, end + 4), message.substr(end + 4)};
}

std::optional<std::size_t> contentLength(const std::string& head)
{
    const std::string field = "\r\nContent-Length: ";
    const auto at = head.find(field);
    if (at == std::string::npos)
        return std::nullopt;
    return std::stoul(head.substr(at + field.size()));
}

// The payload of a chunked body, or nothing when its framing is wrong.
std::optional<std::string> unchunk(const std::string& body)
{
    std::string payload;
    std::size_t at = 0;
    while (true) {
        const auto lineEnd = body.find("\r\n", at);
        if (lineEnd == std::string::npos)
            return std::nullopt;
        const auto size = std::stoul(body.substr(at, lineEnd - at), nullptr, 16);
        at = lineEnd + 2;
        if (size == 0)
            return body.substr(at) == "\r\n" ? std::optional(payload) : std::nullopt;
        if (at + size + 2 > body.size() || body.compare(at + size, 2, "\r\n") != 0)
            return std::nullopt;
        payload += body.substr(at, size);
        at += size + 2;
    }
}

// What the system's own gzip makes of the bytes: the unpacked text, or nothing when it refuses.
std::optional<std::string> gunzip(const std::string& packed, const test::TempDir& dir)
{
    const auto in = dir / "body.gz";
    const auto out = dir / "body";
    std::ofstream(in, std::ios::binary) << packed;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string program = "gzip";
    std::string flags = "-dc";
    std::string file = in.string();
    char* argv[] = {program.data(), flags.data(), file.data(), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "gzip", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return std::nullopt;
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    std::ifstream result(out, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(result), {});
}

QImage pngImage(const std::string& bytes)
{
    return QImage::fromData(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), "PNG");
}

// What the service sends on its own: records 51 to 54, all with id 0.
bool isPush(const QNComPacket& packet) { return packet.cmd() >= 51 && packet.cmd() <= 54; }

sim::SimulatorOptions fastOptions(const std::filesystem::path& socket, std::uint64_t seed = 7)
{
    sim::SimulatorOptions options;
    options.socketPath = socket;
    options.seed = seed;
    // Forty steps of the service's time per real second keep the tests short.
    options.tickInterval = 5ms;
    return options;
}

// A dashboard's link to the simulated service: the real client manager, logged in.
class ServiceClient {
public:
    explicit ServiceClient(const std::filesystem::path& socket)
    {
        probe_ = std::make_unique<test::ManagerProbe>(*manager_);
        manager_->startWithSocketPath(socket.string());
        loggedIn_ = probe_->waitFor([&] { return probe_->completions == 1; });
    }
    ~ServiceClient() { manager_->stop(); }

    bool loggedIn() const { return loggedIn_; }
    QNComClientManager& manager() { return *manager_; }

    // Issues one command through the manager and waits for the reply that carries its id.
    QNComPacket call(const std::function<void(QNComClientManager&)>& send)
    {
        const auto id = managerId_++;
        send(*manager_);
        return replyTo(id);
    }
    // Sends a packet made by hand, with an id of the test's choosing, past the manager's count.
    QNComPacket callRaw(const QNComPacket& packet)
    {
        manager_->sendPacket(packet);
        return replyTo(packet.id_());
    }
    // The id the manager gives its next command.
    std::int64_t nextId() const { return managerId_; }

    std::vector<QNComPacket> packets()
    {
        std::lock_guard lock(probe_->mutex);
        return probe_->packets;
    }
    template <typename Predicate>
    bool waitForPackets(Predicate predicate, std::chrono::milliseconds timeout = 10s)
    {
        return probe_->waitFor([&] { return predicate(probe_->packets); }, timeout);
    }

private:
    QNComPacket replyTo(std::int64_t id)
    {
        QNComPacket reply;
        const bool arrived = probe_->waitFor([&] {
            for (const auto& packet : probe_->packets) {
                if (packet.id_() == id && !isPush(packet)) {
                    reply = packet;
                    return true;
                }
            }
            return false;
        });
        EXPECT_TRUE(arrived) << "no reply to request " << id;
        return reply;
    }

    std::shared_ptr<QNComClientManager> manager_ = QNComClientManager::create();
    std::unique_ptr<test::ManagerProbe> probe_;
    bool loggedIn_ = false;
    std::int64_t managerId_ = 2; // after the identity and password packets
};

std::size_t countOf(const std::vector<QNComPacket>& packets, std::uint64_t cmd, std::size_t from = 0)
{
    std::size_t count = 0;
    for (std::size_t i = from; i < packets.size(); ++i)
        count += packets[i].cmd() == cmd;
    return count;
}

std::size_t indexOfReply(const std::vector<QNComPacket>& packets, std::int64_t id)
{
    for (std::size_t i = 0; i < packets.size(); ++i) {
        if (packets[i].id_() == id && !isPush(packets[i]))
            return i;
    }
    return packets.size();
}

class SimulatorTrafficTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        simulator = std::make_unique<test::SimHarness>(fastOptions(socket));
        client = std::make_unique<ServiceClient>(socket);
        ASSERT_TRUE(client->loggedIn());
    }
    void TearDown() override
    {
        client.reset();
        simulator.reset();
    }

    std::vector<json> current() { return tunnelsOf(client->call([](auto& m) { m.requestCurrentTunnels(); })); }
    std::vector<json> recentLast(std::int64_t count)
    {
        return tunnelsOf(client->call([&](auto& m) { m.requestHistoryTunnelLastCount(count); }));
    }
    std::vector<json> recentFrom(std::int64_t from) { return tunnelsOf(client->call([&](auto& m) { m.requestHistoryTunnelStartId(from); })); }
    // Waits until records after `from` exist and returns them.
    std::vector<json> newerRecords(std::int64_t from)
    {
        for (int round = 0; round < 500; ++round) {
            auto records = recentFrom(from);
            if (!records.empty())
                return records;
            std::this_thread::sleep_for(10ms);
        }
        ADD_FAILURE() << "no record after " << from;
        return {};
    }
    std::vector<json> protocolErrors()
    {
        std::vector<json> errors;
        for (const auto& line : simulator->lines()) {
            if (line.contains("protocol_error"))
                errors.push_back(line);
        }
        return errors;
    }

    test::TempDir dir;
    std::filesystem::path socket = dir / "db.connect";
    std::unique_ptr<test::SimHarness> simulator;
    std::unique_ptr<ServiceClient> client;
};

TEST_F(SimulatorTrafficTest, ServiceInformationComesFirstWithStartTimeSwitchesAndAddresses)
{
    ASSERT_TRUE(client->waitForPackets([](const auto& packets) { return !packets.empty(); }));
    const auto first = client->packets().front();
    ASSERT_EQ(first.cmd(), 1u);
    ASSERT_EQ(first.code(), 1);
    const auto& info = *first.data();
    using namespace std::chrono;
    const double now = duration_cast<duration<double>>(system_clock::now().time_since_epoch()).count();
    ASSERT_TRUE(info["service_start_time"].is_number());
    // The service has been busy for a little while before anyone could connect.
    EXPECT_LT(info["service_start_time"].get<double>(), now);
    EXPECT_GT(info["service_start_time"].get<double>(), now - 3600);
    EXPECT_TRUE(info["mitm_enable"].is_boolean());
    EXPECT_TRUE(info["record_traffic"].is_boolean());
    ASSERT_TRUE(info["local_address"].is_array());
    EXPECT_FALSE(info["local_address"].empty());
    EXPECT_EQ(info["icon"], "");

    // Asked again, the same information comes back as the reply.
    const auto again = client->call([](auto& m) { m.requestInfo(); });
    EXPECT_EQ(again.cmd(), 1u);
    EXPECT_EQ((*again.data())["service_start_time"], info["service_start_time"]);
    EXPECT_EQ((*again.data())["local_address"], info["local_address"]);
}

TEST_F(SimulatorTrafficTest, TunnelReportsCarryCompleteRecordsFromLocalAndRemoteClients)
{
    const auto active = current();
    ASSERT_GE(active.size(), 10u);
    std::set<std::int64_t> ids;
    for (const auto& t : active) {
        for (const auto& key : kTunnelKeys)
            ASSERT_TRUE(t.contains(key)) << "missing " << key << " in " << t.dump();
        EXPECT_TRUE(ids.insert(t["id"].get<std::int64_t>()).second) << "id reported twice: " << t["id"];
        // Active: the end is not after the start.
        EXPECT_LE(t["t_end"].get<double>(), t["t_start"].get<double>());
        EXPECT_GT(t["t_start"].get<double>(), 0);
        EXPECT_GE(t["t_server_ready"].get<double>(), 0);
        EXPECT_TRUE(t["type"] == 1 || t["type"] == 2 || t["type"] == 3 || t["type"] == 4) << t["type"];
    }

    const auto info = *client->packets().front().data();
    std::set<std::string> local{"127.0.0.1", "localhost", "240.0.0.1", "::1"};
    for (const auto& address : info["local_address"])
        local.insert(address.get<std::string>());
    auto all = recentLast(2000);
    all.insert(all.end(), active.begin(), active.end());
    std::set<std::string> bundles;
    std::set<std::string> remote;
    bool localWithoutBundle = false;
    bool rxGrew = false;
    for (const auto& t : all) {
        const auto from = t["fromHost"].get<std::string>();
        if (!local.contains(from)) {
            remote.insert(from);
            EXPECT_EQ(t["processName"], "") << "a remote device has no process";
        } else if (t["bundleIdentifier"] == "") {
            localWithoutBundle = true;
        } else {
            bundles.insert(t["bundleIdentifier"].get<std::string>());
        }
        rxGrew = rxGrew || t["rx"].get<std::int64_t>() > 0;
    }
    EXPECT_GE(bundles.size(), 3u);
    EXPECT_GE(remote.size(), 2u);
    EXPECT_TRUE(localWithoutBundle);
    EXPECT_TRUE(rxGrew);
}

TEST_F(SimulatorTrafficTest, ActiveTunnelsTransferOverTime)
{
    const auto before = current();
    std::map<std::int64_t, json> first;
    for (const auto& t : before)
        first[t["id"]] = t;
    // Some tunnel that stays open must have moved data a quarter of a second of service time later.
    bool moved = false;
    for (int round = 0; round < 200 && !moved; ++round) {
        std::this_thread::sleep_for(10ms);
        for (const auto& t : current()) {
            const auto it = first.find(t["id"]);
            if (it == first.end())
                continue;
            EXPECT_GE(t["rx"].get<std::int64_t>(), it->second["rx"].get<std::int64_t>()) << "rx never shrinks";
            EXPECT_GE(t["rx_max_speed"].get<std::int64_t>(), t["rx_speed"].get<std::int64_t>());
            moved = moved || t["rx"] != it->second["rx"];
        }
    }
    EXPECT_TRUE(moved);
}

TEST_F(SimulatorTrafficTest, RecentRecordsArriveWithRisingEndIdsAndNeverTwice)
{
    auto records = recentLast(100);
    ASSERT_FALSE(records.empty()) << "the warm-up leaves records behind";
    std::set<std::int64_t> seen;
    std::int64_t last = -1;
    for (int round = 0; round < 4; ++round) {
        std::int64_t previousEnd = last;
        for (const auto& r : records) {
            const auto id = r["id"].get<std::int64_t>();
            const auto endId = r["endId"].get<std::int64_t>();
            EXPECT_TRUE(seen.insert(id).second) << "record " << id << " delivered twice";
            EXPECT_GT(endId, id);
            EXPECT_GT(endId, previousEnd) << "records come oldest first";
            previousEnd = endId;
            EXPECT_GT(r["t_end"].get<double>(), r["t_start"].get<double>()) << "a record is closed";
            EXPECT_GE(r["t_end"].get<double>(), r["t_close"].get<double>());
            EXPECT_EQ(r["rx_speed"], 0);
        }
        last = previousEnd;
        // What the dashboard does: ask from the largest endId it holds.
        records = newerRecords(last);
    }
    EXPECT_GE(seen.size(), 4u);
}

TEST_F(SimulatorTrafficTest, RecentRangesCountPlacesInclusively)
{
    const auto all = recentLast(1000);
    ASSERT_GE(all.size(), 6u);
    const auto endIdAt = [&](std::size_t i) { return all[i]["endId"].get<std::int64_t>(); };
    const auto ids = [](const std::vector<json>& records) {
        std::vector<std::int64_t> out;
        for (const auto& r : records)
            out.push_back(r["id"]);
        return out;
    };
    // A record's place is its endId - 1; "from" and "to" are places, both ends included.
    const auto from = endIdAt(1) - 1;
    const auto to = endIdAt(4) - 1;
    const auto between = tunnelsOf(client->call([&](auto& m) { m.requestHistoryTunnelStartIdEndId(from, to); }));
    EXPECT_EQ(ids(between), (std::vector<std::int64_t>{all[1]["id"], all[2]["id"], all[3]["id"], all[4]["id"]}));
    const auto counted = tunnelsOf(client->call([&](auto& m) { m.requestHistoryTunnelStartIdCount(from, 2); }));
    EXPECT_EQ(ids(counted), (std::vector<std::int64_t>{all[1]["id"], all[2]["id"]}));
    const auto lastTwo = recentLast(2);
    ASSERT_EQ(lastTwo.size(), 2u);
    EXPECT_LT(lastTwo[0]["endId"], lastTwo[1]["endId"]);
    EXPECT_GE(lastTwo[1]["endId"].get<std::int64_t>(), endIdAt(all.size() - 1));
    EXPECT_TRUE(recentLast(0).empty());
    // Beyond the newest record there is nothing yet.
    EXPECT_TRUE(tunnelsOf(client->call([](auto& m) { m.requestHistoryTunnelStartId(std::int64_t(1) << 60); })).empty());
    // Without a sub-command: everything held.
    EXPECT_GE(tunnelsOf(client->call([](auto& m) { m.requestHistoryTunnels(); })).size(), all.size());
}

TEST_F(SimulatorTrafficTest, DnsTableHasAllThreeKindsAndTheCacheCanBeEmptied)
{
    const auto table = *client->call([](auto& m) { m.requestDNSRecords(); }).data();
    for (const char* kind : {"host_file", "host_config", "record"}) {
        ASSERT_TRUE(table[kind].is_array()) << kind;
        ASSERT_FALSE(table[kind].empty()) << kind;
        for (const auto& entry : table[kind]) {
            EXPECT_TRUE(entry["domain"].is_string());
            EXPECT_TRUE(entry["ips"].is_array());
            EXPECT_FALSE(entry["ips"].empty());
        }
    }
    for (const auto& entry : table["record"]) {
        EXPECT_GT(entry["ttl"].get<std::int64_t>(), 0);
        const bool server = entry.value("dns", "") != "" || entry.value("doh", "") != "";
        EXPECT_TRUE(server) << entry.dump();
    }

    EXPECT_EQ((*client->call([](auto& m) { m.changeAutoPushDNS(true); }).data())["switch"], true);
    // Deleting one cached name: confirmed, and the pushed table no longer has it.
    const auto domain = table["record"][0]["domain"].get<std::string>();
    const auto removeId = client->nextId();
    const auto removed = client->call([&](auto& m) { m.removeDNSRecordOfDomain(domain); });
    EXPECT_EQ(removed.code(), 1);
    EXPECT_EQ((*removed.data())["domain"], domain);
    ASSERT_TRUE(client->waitForPackets([&](const auto& packets) { return countOf(packets, 52, indexOfReply(packets, removeId)) >= 1; }));
    auto packets = client->packets();
    auto push = std::find_if(packets.begin() + static_cast<std::ptrdiff_t>(indexOfReply(packets, removeId)), packets.end(),
                             [](const auto& p) { return p.cmd() == 52; });
    for (const auto& entry : (*push->data())["record"])
        EXPECT_NE(entry["domain"], domain);
    // A name that is not cached cannot be deleted.
    EXPECT_EQ(client->call([](auto& m) { m.removeDNSRecordOfDomain("never-resolved.example"); }).code(), 0);

    // Purging: the next pushed table has no cached names, but keeps the other two kinds.
    const auto purgeId = client->nextId();
    EXPECT_EQ(client->call([](auto& m) { m.purgeDNSRecords(); }).code(), 1);
    ASSERT_TRUE(client->waitForPackets([&](const auto& packets) { return countOf(packets, 52, indexOfReply(packets, purgeId)) >= 1; }));
    packets = client->packets();
    push = std::find_if(packets.begin() + static_cast<std::ptrdiff_t>(indexOfReply(packets, purgeId)), packets.end(),
                        [](const auto& p) { return p.cmd() == 52; });
    EXPECT_TRUE((*push->data())["record"].empty());
    EXPECT_EQ((*push->data())["host_file"], table["host_file"]);
    EXPECT_EQ((*push->data())["host_config"], table["host_config"]);
    // New connections fill the cache again, and the push tells.
    EXPECT_TRUE(client->waitForPackets([&](const auto& packets) {
        for (auto i = indexOfReply(packets, purgeId); i < packets.size(); ++i) {
            if (packets[i].cmd() == 52 && !(*packets[i].data())["record"].empty())
                return true;
        }
        return false;
    }));
}

TEST_F(SimulatorTrafficTest, UdpRecordsArePushedOnlyWhileSwitchedOn)
{
    const auto onId = client->nextId();
    EXPECT_EQ((*client->call([](auto& m) { m.changeAutoPushUDP(true); }).data())["switch"], true);
    ASSERT_TRUE(client->waitForPackets([](const auto& packets) { return countOf(packets, 54) >= 6; }));
    const auto offId = client->nextId();
    EXPECT_EQ((*client->call([](auto& m) { m.changeAutoPushUDP(false); }).data())["switch"], false);
    // Tunnel pushes show that the service's time goes on.
    client->call([](auto& m) { m.changeAutoPushTunnel(true); });
    ASSERT_TRUE(client->waitForPackets([&](const auto& packets) { return countOf(packets, 51, indexOfReply(packets, offId)) >= 4; }));

    const auto packets = client->packets();
    const auto on = indexOfReply(packets, onId);
    const auto off = indexOfReply(packets, offId);
    EXPECT_EQ(countOf(packets, 54) - countOf(packets, 54, on), 0u) << "nothing before switching on";
    EXPECT_EQ(countOf(packets, 54, off), 0u) << "nothing after switching off";
    std::map<std::int64_t, std::vector<json>> byId;
    for (std::size_t i = on; i < off; ++i) {
        if (packets[i].cmd() != 54)
            continue;
        const auto record = json::parse((*packets[i].data())["tunnel_info"].get<std::string>());
        for (const auto& key : kUdpKeys)
            ASSERT_TRUE(record.contains(key)) << key;
        byId[record["id"]].push_back(record);
    }
    // A UDP exchange is reported again as it goes on, under the same id.
    const bool followed = std::any_of(byId.begin(), byId.end(), [](const auto& entry) { return entry.second.size() >= 2; });
    EXPECT_TRUE(followed);
}

TEST_F(SimulatorTrafficTest, SwitchesAreConfirmedAndChangeWhatTheServiceDoes)
{
    EXPECT_EQ((*client->call([](auto& m) { m.changeTrafficRecord(false); }).data())["c"], false);
    EXPECT_EQ((*client->call([](auto& m) { m.changeMitMEnable(false); }).data())["c"], false);
    const auto info = *client->call([](auto& m) { m.requestInfo(); }).data();
    EXPECT_EQ(info["record_traffic"], false);
    EXPECT_EQ(info["mitm_enable"], false);

    // Tunnels opened from now on capture nothing and keep their TLS closed.
    std::int64_t known = 0;
    for (const auto& t : current())
        known = std::max(known, t["id"].get<std::int64_t>());
    for (const auto& t : recentLast(1))
        known = std::max(known, t["endId"].get<std::int64_t>());
    std::vector<json> fresh;
    for (int round = 0; round < 500 && fresh.size() < 5; ++round) {
        fresh.clear();
        for (const auto& t : recentFrom(known)) {
            if (t["id"].get<std::int64_t>() > known)
                fresh.push_back(t);
        }
        if (fresh.size() < 5)
            std::this_thread::sleep_for(10ms);
    }
    ASSERT_GE(fresh.size(), 5u);
    for (const auto& t : fresh) {
        EXPECT_EQ(t["hasSend"], false) << t.dump();
        EXPECT_EQ(t["hasReceive"], false) << t.dump();
        EXPECT_EQ(t["SSLHeaderString"], "");
        const auto body = client->call([&](auto& m) { m.getTunnelResponseData(t["id"]); });
        EXPECT_EQ((*body.data())["data"], "");
    }

    EXPECT_EQ((*client->call([](auto& m) { m.changeTrafficRecord(true); }).data())["c"], true);
    EXPECT_EQ((*client->call([](auto& m) { m.changeMitMEnable(true); }).data())["c"], true);

    // The tunnel push: confirmed, then a full current report every second of service time,
    // until it is switched off again.
    const auto onId = client->nextId();
    EXPECT_EQ((*client->call([](auto& m) { m.changeAutoPushTunnel(true); }).data())["switch"], true);
    ASSERT_TRUE(client->waitForPackets([&](const auto& packets) { return countOf(packets, 51, indexOfReply(packets, onId)) >= 2; }));
    const auto offId = client->nextId();
    EXPECT_EQ((*client->call([](auto& m) { m.changeAutoPushTunnel(false); }).data())["switch"], false);
    client->call([](auto& m) { m.changeAutoPushUDP(true); });
    ASSERT_TRUE(client->waitForPackets([&](const auto& packets) { return countOf(packets, 54, indexOfReply(packets, offId)) >= 16; }));
    const auto packets = client->packets();
    EXPECT_EQ(countOf(packets, 51, indexOfReply(packets, offId)), 0u);
    for (const auto& packet : packets) {
        if (packet.cmd() == 51) {
            EXPECT_FALSE(tunnelsOf(packet).empty());
        }
    }
}

TEST_F(SimulatorTrafficTest, ClosingATunnelMovesItToTheRecentRecordsAsAManualClose)
{
    auto active = current();
    ASSERT_FALSE(active.empty());
    std::int64_t newest = 0;
    for (const auto& r : recentLast(1))
        newest = r["endId"];
    // The oldest tunnels are the long-lived ones, least likely to end by themselves meanwhile.
    std::sort(active.begin(), active.end(), [](const json& a, const json& b) { return a["id"] < b["id"]; });
    std::optional<std::int64_t> closed;
    for (const auto& t : active) {
        const auto reply = client->call([&](auto& m) { m.closeTunnel(t["id"]); });
        if (reply.code() == 1) {
            EXPECT_EQ((*reply.data())["tunnel_id"], t["id"]);
            closed = t["id"].get<std::int64_t>();
            break;
        }
    }
    ASSERT_TRUE(closed);
    for (const auto& t : current())
        EXPECT_NE(t["id"], *closed);
    std::optional<json> record;
    for (const auto& r : recentFrom(newest)) {
        if (r["id"] == *closed)
            record = r;
    }
    ASSERT_TRUE(record);
    EXPECT_EQ((*record)["closeReason"], 1);
    EXPECT_GT((*record)["t_end"].get<double>(), (*record)["t_start"].get<double>());
    EXPECT_GT((*record)["endId"].get<std::int64_t>(), *closed);
    // A tunnel that is no longer active cannot be closed again.
    EXPECT_EQ(client->call([&](auto& m) { m.closeTunnel(*closed); }).code(), 0);
}

TEST_F(SimulatorTrafficTest, BodiesAreTheCapturedHttpMessages)
{
    auto tunnels = recentLast(5000);
    const auto active = current();
    tunnels.insert(tunnels.end(), active.begin(), active.end());
    const auto responseHead = [](const json& t) { return t["type"] == 2 ? t["SSLResponseHeader"] : t["responseHeader"]; };
    const auto requestHead = [](const json& t) { return t["type"] == 2 ? t["SSLHeaderString"] : t["headerString"]; };
    const auto find = [&](const std::string& marker) -> std::optional<json> {
        for (const auto& t : tunnels) {
            if (t["hasReceive"] == true && responseHead(t).get<std::string>().find(marker) != std::string::npos)
                return t;
        }
        return std::nullopt;
    };
    const auto response = [&](const json& t) {
        const auto reply = client->call([&](auto& m) { m.getTunnelResponseData(t["id"]); });
        EXPECT_EQ(reply.code(), 1);
        EXPECT_EQ((*reply.data())["tunnel_id"], t["id"]);
        const auto message = decode64((*reply.data())["data"]);
        const auto [head, body] = splitMessage(message);
        EXPECT_EQ(head, responseHead(t)) << "the message starts with the tunnel's own response header";
        return body;
    };

    const auto jsonTunnel = find("Content-Type: application/json; charset=utf-8\r\nContent-Length");
    ASSERT_TRUE(jsonTunnel);
    const auto jsonBody = response(*jsonTunnel);
    EXPECT_EQ(contentLength(responseHead(*jsonTunnel)), jsonBody.size());
    EXPECT_TRUE(json::accept(jsonBody));

    const auto html = find("Content-Type: text/html");
    ASSERT_TRUE(html);
    const auto htmlBody = response(*html);
    EXPECT_EQ(contentLength(responseHead(*html)), htmlBody.size());
    EXPECT_EQ(htmlBody.rfind("<!DOCTYPE html>", 0), 0u);

    const auto image = find("Content-Type: image/png");
    ASSERT_TRUE(image);
    const auto imageBody = response(*image);
    EXPECT_EQ(contentLength(responseHead(*image)), imageBody.size());
    EXPECT_FALSE(pngImage(imageBody).isNull()) << "a PNG that a real decoder reads";

    const auto gzip = find("Content-Encoding: gzip");
    ASSERT_TRUE(gzip);
    const auto packed = response(*gzip);
    EXPECT_EQ(contentLength(responseHead(*gzip)), packed.size());
    const auto unpacked = gunzip(packed, dir);
    ASSERT_TRUE(unpacked) << "gzip refuses the body";
    EXPECT_TRUE(json::accept(*unpacked));

    const auto chunked = find("Transfer-Encoding: chunked");
    ASSERT_TRUE(chunked);
    const auto chunkedBody = response(*chunked);
    EXPECT_FALSE(contentLength(responseHead(*chunked)));
    const auto payload = unchunk(chunkedBody);
    ASSERT_TRUE(payload) << chunkedBody;
    std::istringstream lines(*payload);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(json::accept(line));

    // A request with a body: the request header as captured, then exactly that body.
    const auto sent = std::find_if(tunnels.begin(), tunnels.end(), [](const json& t) { return t["hasSend"] == true; });
    ASSERT_NE(sent, tunnels.end());
    const auto request = client->call([&](auto& m) { m.getTunnelRequestData((*sent)["id"]); });
    const auto [head, body] = splitMessage(decode64((*request.data())["data"]));
    EXPECT_EQ(head, requestHead(*sent));
    EXPECT_EQ(contentLength(head), body.size());
    EXPECT_FALSE(body.empty());

    // Nothing captured: empty data. No such tunnel: refused.
    const auto silent = std::find_if(tunnels.begin(), tunnels.end(), [](const json& t) { return t["hasSend"] == false; });
    ASSERT_NE(silent, tunnels.end());
    const auto empty = client->call([&](auto& m) { m.getTunnelRequestData((*silent)["id"]); });
    EXPECT_EQ(empty.code(), 1);
    EXPECT_EQ((*empty.data())["data"], "");
    EXPECT_EQ(client->call([](auto& m) { m.getTunnelResponseData(std::int64_t(1) << 50); }).code(), 0);
}

TEST_F(SimulatorTrafficTest, IconsArePngImagesOfEachApplication)
{
    std::set<std::string> bundles;
    for (const auto& t : recentLast(1000)) {
        if (t["bundleIdentifier"] != "")
            bundles.insert(t["bundleIdentifier"].get<std::string>());
    }
    ASSERT_GE(bundles.size(), 2u);
    std::vector<QImage> images;
    for (const auto& bundle : bundles) {
        const auto reply = client->call([&](auto& m) { m.requestIcon(bundle); });
        const auto& icons = (*reply.data())["icon"];
        ASSERT_EQ(icons.size(), 1u);
        const auto png = decode64(icons[bundle]);
        EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1A\n", 8));
        images.push_back(pngImage(png));
        ASSERT_FALSE(images.back().isNull()) << bundle;
        EXPECT_GT(images.back().width(), 0);
    }
    EXPECT_NE(images[0], images[1]) << "each application has its own colour";
    const auto unknown = client->call([](auto& m) { m.requestIcon("com.example.nobody"); });
    EXPECT_EQ(unknown.code(), 1);
    EXPECT_TRUE((*unknown.data())["icon"].is_object());
    EXPECT_TRUE((*unknown.data())["icon"].empty());
}

TEST_F(SimulatorTrafficTest, ContractBreachesAreLoggedAndRefused)
{
    // A tunnel id as text, a code other than 1, a command the service does not have.
    QNComPacket textId = QNComPacket::initWithId(1000);
    textId.setCmd(18);
    textId.setData(Dictionary{{"tunnel_id", "5"}});
    const auto first = client->callRaw(textId);
    QNComPacket codeZero = QNComPacket::initWithId(1001);
    codeZero.setCode(0);
    codeZero.setCmd(7);
    const auto second = client->callRaw(codeZero);
    QNComPacket unknown = QNComPacket::initWithId(1002);
    unknown.setCmd(99);
    const auto third = client->callRaw(unknown);
    for (const auto* reply : {&first, &second, &third}) {
        EXPECT_EQ(reply->code(), 0);
        EXPECT_TRUE(reply->message() && !reply->message()->empty());
        EXPECT_FALSE(reply->data());
    }
    EXPECT_EQ(first.cmd(), 18u);
    EXPECT_EQ(second.cmd(), 7u);
    EXPECT_EQ(third.cmd(), 99u);

    auto errors = protocolErrors();
    ASSERT_EQ(errors.size(), 3u);
    for (const auto& line : errors)
        EXPECT_EQ(line["conn"], 1);
    EXPECT_NE(errors[0]["protocol_error"].get<std::string>().find("tunnel_id"), std::string::npos) << errors[0];
    EXPECT_NE(errors[1]["protocol_error"].get<std::string>().find("code 0"), std::string::npos) << errors[1];
    EXPECT_NE(errors[2]["protocol_error"].get<std::string>().find("99"), std::string::npos) << errors[2];

    // The manager's own ids are now behind the hand-made ones: that is logged too, but the
    // request is whole, so it is still answered.
    const auto late = client->call([](auto& m) { m.requestCurrentTunnels(); });
    EXPECT_EQ(late.code(), 1);
    EXPECT_FALSE(tunnelsOf(late).empty());
    errors = protocolErrors();
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors[3]["protocol_error"], "id 2 does not follow 1002");
}

// A raw client that writes whatever the test gives it, to break the handshake on purpose.
class RawClient {
public:
    explicit RawClient(const std::filesystem::path& path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        timeval timeout{5, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(fd_); }
    bool connected() const { return connected_; }

    void send(const json& object)
    {
        QNComPacket packet;
        packet.dic() = Dictionary::parse(object.dump());
        const auto wire = *packet.toData();
        ASSERT_EQ(::write(fd_, wire.data(), wire.size()), static_cast<ssize_t>(wire.size()));
    }
    // The next packet, or null when the service closed the connection (or said nothing).
    json read()
    {
        while (true) {
            for (std::size_t i = 1; i < buffer_.size(); ++i) {
                if (static_cast<std::uint8_t>(buffer_[i - 1]) == 0xDB && static_cast<std::uint8_t>(buffer_[i]) == 0xBC) {
                    const auto packet = QNComPacket::initWithData(
                        std::span(reinterpret_cast<const std::uint8_t*>(buffer_.data()), i + 1));
                    buffer_.erase(0, i + 1);
                    return packet ? json::parse(packet->dic().dump()) : json("undecodable");
                }
            }
            char chunk[4096];
            const auto count = ::read(fd_, chunk, sizeof chunk);
            if (count <= 0)
                return nullptr;
            buffer_.append(chunk, static_cast<std::size_t>(count));
        }
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    std::string buffer_;
};

TEST(SimulatorHandshake, ACommandInPlaceOfTheIdentityIsRefusedAndTheLinkClosed)
{
    test::TempDir dir;
    test::SimHarness simulator(fastOptions(dir / "db.connect"));
    RawClient raw(dir / "db.connect");
    ASSERT_TRUE(raw.connected());
    EXPECT_EQ(raw.read()["m"], contract::kGreetingToken);
    raw.send({{"v", 1}, {"c", 1}, {"i", 0}, {"t", 7}});
    const auto reply = raw.read();
    EXPECT_EQ(reply["c"], 0);
    EXPECT_EQ(reply["m"], "Identity expected");
    EXPECT_TRUE(raw.read().is_null()) << "the service hangs up";
    bool logged = false;
    for (const auto& line : simulator.lines())
        logged = logged || line.contains("protocol_error");
    EXPECT_TRUE(logged);
}

TEST(SimulatorHandshake, APasswordPacketWithoutAPasswordIsRefused)
{
    test::TempDir dir;
    test::SimHarness simulator(fastOptions(dir / "db.connect"));
    RawClient raw(dir / "db.connect");
    ASSERT_TRUE(raw.connected());
    raw.read();
    raw.send({{"v", 1}, {"c", 1}, {"i", 0}});
    EXPECT_EQ(raw.read()["c"], 2);
    raw.send({{"v", 1}, {"c", 1}, {"i", 1}, {"d", {{"password", 42}}}});
    EXPECT_EQ(raw.read()["m"], "Password expected");
    EXPECT_TRUE(raw.read().is_null());
    const auto lines = simulator.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const json& line) { return line.contains("protocol_error"); }));
}

TEST(SimulatorSeed, TheSameSeedGivesTheSameTrafficAndAnotherSeedOther)
{
    const auto firstReport = [](std::uint64_t seed) {
        test::TempDir dir;
        auto options = fastOptions(dir / "db.connect", seed);
        options.tickInterval = 0ms; // time stands still: the report is the state after the warm-up
        test::SimHarness simulator(options);
        ServiceClient client(dir / "db.connect");
        EXPECT_TRUE(client.loggedIn());
        const auto active = client.call([](auto& m) { m.requestCurrentTunnels(); });
        const auto recent = client.call([](auto& m) { m.requestHistoryTunnelLastCount(1000); });
        const auto dns = client.call([](auto& m) { m.requestDNSRecords(); });
        return std::tuple((*active.data())["tunnels"], (*recent.data())["tunnels"], *dns.data());
    };
    const auto a = firstReport(42);
    const auto b = firstReport(42);
    const auto c = firstReport(43);
    EXPECT_FALSE(std::get<0>(a).empty());
    EXPECT_EQ(std::get<0>(a), std::get<0>(b));
    EXPECT_EQ(std::get<1>(a), std::get<1>(b));
    EXPECT_EQ(std::get<2>(a), std::get<2>(b));
    EXPECT_NE(std::get<0>(a), std::get<0>(c));
}

TEST(SimulatorScale, HoldsExactlyTheRequestedNumberOfActiveTunnelsWhileTheyComeAndGo)
{
    test::TempDir dir;
    auto options = fastOptions(dir / "db.connect");
    options.scale = 200;
    test::SimHarness simulator(options);
    ServiceClient client(dir / "db.connect");
    ASSERT_TRUE(client.loggedIn());
    std::set<std::int64_t> firstIds;
    for (const auto& t : tunnelsOf(client.call([](auto& m) { m.requestCurrentTunnels(); })))
        firstIds.insert(t["id"].get<std::int64_t>());
    EXPECT_EQ(firstIds.size(), 200u);
    bool replaced = false;
    for (int round = 0; round < 500 && !replaced; ++round) {
        const auto tunnels = tunnelsOf(client.call([](auto& m) { m.requestCurrentTunnels(); }));
        ASSERT_EQ(tunnels.size(), 200u);
        replaced = std::any_of(tunnels.begin(), tunnels.end(), [&](const json& t) { return !firstIds.contains(t["id"]); });
        if (!replaced)
            std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(replaced);
}

TEST(SimulatorProgram, SeedAndScaleOptionsReachTheTraffic)
{
    test::TempDir dir;
    const auto socket = dir / "db.connect";
    std::vector<std::string> arguments{VANTOR_SIM_PATH, "--socket", socket.string(), "--log", (dir / "sim.log").string(),
                                       "--scale", "40", "--seed", "9", "--tick", "0"};
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    for (int i = 0; i < 200 && !std::filesystem::exists(socket); ++i)
        std::this_thread::sleep_for(10ms);

    json viaProgram;
    {
        ServiceClient client(socket);
        ASSERT_TRUE(client.loggedIn());
        viaProgram = json::parse((*client.call([](auto& m) { m.requestCurrentTunnels(); }).data()).dump());
    }
    kill(pid, SIGTERM);
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // The same seed and scale in process give the very same report.
    auto options = fastOptions(dir / "other.sock", 9);
    options.scale = 40;
    options.tickInterval = 0ms;
    test::SimHarness simulator(options);
    ServiceClient client(dir / "other.sock");
    ASSERT_TRUE(client.loggedIn());
    const auto inProcess = json::parse((*client.call([](auto& m) { m.requestCurrentTunnels(); }).data()).dump());
    EXPECT_EQ(viaProgram["tunnels"].size(), 40u);
    EXPECT_EQ(viaProgram, inProcess);
}

} // namespace
} // namespace vd
