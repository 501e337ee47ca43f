#include <set>

#include <QImage>
#include <gtest/gtest.h>

#include "SimHarness.h"
#include "WireClient.h"
#include "platform/Base64.h"
#include "support/Eventually.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// Every field of a tunnel record that the dashboard reads.
const std::vector<std::string> kTunnelKeys{
    "id", "endId", "type", "closeReason", "t_start", "t_server_ready", "t_dns_resolved", "t_rule_found", "t_proxy_ready",
    "t_close", "t_end", "host", "port", "headerString", "headerModified", "modifiedHeaderString", "responseHeader",
    "responseCode", "responseModified", "SSLHost", "SSLHeaderString", "SSLHeaderModified", "SSLModifiedHeaderString",
    "SSLResponseHeader", "SSLResponseCode", "SSLResponseModified", "hasReceive", "hasSend", "processName",
    "processIdentifier", "bundleIdentifier", "processPath", "fromHost", "fromPort", "ipAddr", "outboundMode", "ruleInfo",
    "policyName", "rx", "tx", "rx_speed", "tx_speed", "rx_max_speed", "tx_max_speed"};
const std::vector<std::string> kUdpKeys{"id",      "status",       "direction",  "fromHost", "fromPort", "host",  "port",
                                        "outboundMode", "ruleInfo", "policyName", "t_time",   "t_rule_found", "t_end"};

sim::SimulatorOptions fastOptions(const std::filesystem::path& socket, std::uint64_t seed = 7, std::chrono::milliseconds tick = 5ms)
{
    sim::SimulatorOptions options;
    options.socketPath = socket;
    options.seed = seed;
    // At 5 ms a step, forty steps of the service's time pass in a real second.
    options.tickInterval = tick;
    return options;
}

std::string decode64(const json& text)
{
    const auto bytes = base64::decodeStrict(text.get<std::string>());
    EXPECT_TRUE(bytes) << "not Base64";
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

class SimulatorTrafficTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(client.connected());
        info = client.logIn();
    }
    std::vector<json> protocolErrors()
    {
        std::vector<json> errors;
        for (const auto& line : simulator.lines()) {
            if (line.contains("protocol_error"))
                errors.push_back(line["protocol_error"]);
        }
        return errors;
    }
    std::vector<json> recentAndActive()
    {
        auto all = client.tunnels(8, {{"cmd", "last_count"}, {"count", 5000}});
        const auto active = client.tunnels(7);
        all.insert(all.end(), active.begin(), active.end());
        return all;
    }

    test::TempDir dir;
    test::SimHarness simulator{fastOptions(dir / "db.connect")};
    test::WireClient client{dir / "db.connect"};
    json info;
};

TEST_F(SimulatorTrafficTest, EveryAnswerCarriesItsNumbersAndFieldsOnTheWire)
{
    EXPECT_EQ(info["t"], 1);
    EXPECT_EQ(info["i"], 0);
    EXPECT_EQ(info["c"], 1);
    using namespace std::chrono;
    const double now = duration_cast<duration<double>>(system_clock::now().time_since_epoch()).count();
    // The service has been busy for a little while before anyone could connect.
    EXPECT_LT(info["d"]["service_start_time"].get<double>(), now);
    EXPECT_GT(info["d"]["service_start_time"].get<double>(), now - 3600);
    EXPECT_FALSE(info["d"]["local_address"].empty());
    EXPECT_EQ(info["d"]["icon"], "");

    struct Exchange {
        const char* what;
        std::uint64_t t;
        json data;
        std::int64_t code; // of the reply; a refusal has a message and no "d"
        json reply;        // the reply's "d" as it must be, or null to check only its keys
        std::vector<std::string> keys;
        const char* logged = nullptr; // what the protocol error line names, when there is one
        std::int64_t requestCode = 1;
    };
    constexpr std::int64_t kNoTunnel = std::int64_t(1) << 50;
    const std::vector<Exchange> exchanges{
        {"info", 1, nullptr, 1, nullptr, {"service_start_time", "mitm_enable", "record_traffic", "local_address", "icon"}},
        {"active tunnels", 7, nullptr, 1, nullptr, {"tunnels"}},
        {"recent tunnels", 8, {{"cmd", "last_count"}, {"count", 3}}, 1, nullptr, {"tunnels"}},
        {"DNS table", 13, nullptr, 1, nullptr, {"host_file", "host_config", "record"}},
        {"record switch", 10, {{"switch", true}}, 1, {{"c", true}}, {}},
        {"MitM switch", 11, {{"switch", true}}, 1, {{"c", true}}, {}},
        {"tunnel push switch", 14, {{"switch", false}}, 1, {{"switch", false}}, {}},
        {"DNS push switch", 15, {{"switch", false}}, 1, {{"switch", false}}, {}},
        {"UDP push switch", 22, {{"switch", false}}, 1, {{"switch", false}}, {}},
        {"icon of nobody", 19, {{"bundleId", "com.example.nobody"}}, 1, {{"icon", json::object()}}, {}},
        {"uncached name", 17, {{"domain", "never-resolved.example"}}, 0, nullptr, {}},
        {"close of no tunnel", 18, {{"tunnel_id", kNoTunnel}}, 0, nullptr, {}},
        {"body of no tunnel", 21, {{"tunnel_id", kNoTunnel}}, 0, nullptr, {}},
        {"tunnel id as text", 18, {{"tunnel_id", "5"}}, 0, nullptr, {}, "tunnel_id"},
        {"request code 0", 7, nullptr, 0, nullptr, {}, "code 0", 0},
        {"unknown command", 99, nullptr, 0, nullptr, {}, "99"},
    };
    std::vector<std::string> logged;
    for (const auto& exchange : exchanges) {
        SCOPED_TRACE(exchange.what);
        const auto reply = client.request(exchange.t, exchange.data, exchange.requestCode);
        EXPECT_EQ(reply["v"], 1);
        EXPECT_EQ(reply["t"], exchange.t);
        EXPECT_EQ(reply["c"], exchange.code);
        if (exchange.code == 0) {
            EXPECT_FALSE(reply.value("m", "").empty());
            EXPECT_FALSE(reply.contains("d"));
        } else if (!exchange.reply.is_null()) {
            EXPECT_EQ(reply["d"], exchange.reply);
        }
        for (const auto& key : exchange.keys)
            EXPECT_TRUE(reply["d"].contains(key)) << key;
        if (exchange.logged)
            logged.push_back(exchange.logged);
    }
    ASSERT_TRUE(test::eventually([&] { return protocolErrors().size() >= logged.size(); }));
    const auto errors = protocolErrors();
    ASSERT_EQ(errors.size(), logged.size());
    for (std::size_t i = 0; i < logged.size(); ++i)
        EXPECT_NE(errors[i].get<std::string>().find(logged[i]), std::string::npos) << errors[i];
}

TEST_F(SimulatorTrafficTest, RecordsCarryEveryFieldTheDashboardReads)
{
    std::set<std::int64_t> ids;
    for (const auto& t : client.tunnels(7)) {
        for (const auto& key : kTunnelKeys)
            ASSERT_TRUE(t.contains(key)) << "missing " << key << " in " << t.dump();
        EXPECT_TRUE(ids.insert(t["id"].get<std::int64_t>()).second) << "id reported twice: " << t["id"];
        EXPECT_LE(t["t_end"].get<double>(), t["t_start"].get<double>()) << "an active tunnel has not ended";
    }
    EXPECT_GE(ids.size(), 10u);
}

TEST_F(SimulatorTrafficTest, RecentRecordsFollowOnByEndIdAndRangesIncludeBothEnds)
{
    const auto idsOf = [](const std::vector<json>& records) {
        std::vector<std::int64_t> ids;
        for (const auto& r : records)
            ids.push_back(r["id"]);
        return ids;
    };
    const auto all = client.tunnels(8, {{"cmd", "last_count"}, {"count", 1000}});
    ASSERT_GE(all.size(), 6u) << "the warm-up leaves records behind";
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_GT(all[i]["endId"], all[i]["id"]);
        EXPECT_TRUE(i == 0 || all[i]["endId"] > all[i - 1]["endId"]) << "records come oldest first";
        EXPECT_GT(all[i]["t_end"].get<double>(), all[i]["t_start"].get<double>()) << "a record has ended";
    }
    // A record's place is its endId - 1; "from" and "to" are places, both ends included.
    const std::int64_t from = all[1]["endId"].get<std::int64_t>() - 1, to = all[4]["endId"].get<std::int64_t>() - 1;
    EXPECT_EQ(idsOf(client.tunnels(8, {{"cmd", "from_to"}, {"from", from}, {"to", to}})),
              (std::vector<std::int64_t>{all[1]["id"], all[2]["id"], all[3]["id"], all[4]["id"]}));
    EXPECT_EQ(idsOf(client.tunnels(8, {{"cmd", "from_count"}, {"from", from}, {"count", 2}})),
              (std::vector<std::int64_t>{all[1]["id"], all[2]["id"]}));
    EXPECT_TRUE(client.tunnels(8, {{"cmd", "last_count"}, {"count", 0}}).empty());
    EXPECT_GE(client.tunnels(8).size(), all.size()) << "without a sub-command: everything held";

    // What the dashboard does: ask from the largest endId it holds, and get only newer records.
    const auto last = all.back()["endId"].get<std::int64_t>();
    std::vector<json> newer;
    ASSERT_TRUE(test::eventually([&] { return !(newer = client.tunnels(8, {{"cmd", "from_to_last"}, {"from", last}})).empty(); }));
    const auto held = idsOf(all);
    for (const auto& r : newer) {
        EXPECT_GT(r["endId"], last);
        EXPECT_EQ(std::count(held.begin(), held.end(), r["id"].get<std::int64_t>()), 0) << "delivered twice";
    }
}

TEST_F(SimulatorTrafficTest, PushesComeOnlyWhileSwitchedOn)
{
    const auto isPush = [](const json& p, std::uint64_t t) { return p["t"] == t && p["i"] == 0; };
    // UDP exchanges, reported again under the same id as they go on.
    EXPECT_EQ(client.data(22, {{"switch", true}}), json({{"switch", true}}));
    std::map<std::int64_t, int> reports;
    for (int pushes = 0; pushes < 100 && std::none_of(reports.begin(), reports.end(), [](auto& r) { return r.second > 1; }); ++pushes) {
        const auto push = client.readUntil([&](const json& p) { return isPush(p, 54); });
        ASSERT_FALSE(push.is_null());
        const auto record = json::parse(push["d"]["tunnel_info"].get<std::string>());
        for (const auto& key : kUdpKeys)
            ASSERT_TRUE(record.contains(key)) << key;
        ++reports[record["id"]];
    }
    EXPECT_TRUE(std::any_of(reports.begin(), reports.end(), [](auto& r) { return r.second > 1; }));
    EXPECT_EQ(client.data(22, {{"switch", false}}), json({{"switch", false}}));

    // Whole current reports while the tunnel push is on; no UDP record once it is off.
    EXPECT_EQ(client.data(14, {{"switch", true}}), json({{"switch", true}}));
    for (int reportsSeen = 0; reportsSeen < 3;) {
        const auto push = client.readUntil([](const json& p) { return p["i"] == 0; });
        ASSERT_FALSE(push.is_null());
        EXPECT_NE(push["t"], 54) << "a UDP record after the push was switched off";
        if (isPush(push, 51)) {
            EXPECT_FALSE(push["d"]["tunnels"].empty());
            ++reportsSeen;
        }
    }
    EXPECT_EQ(client.data(14, {{"switch", false}}), json({{"switch", false}}));

    // The DNS table after a purge: no cached names but the configured ones; then new ones come.
    const auto table = client.data(13);
    ASSERT_FALSE(table["record"].empty());
    for (const auto& entry : table["record"])
        EXPECT_GT(entry["ttl"].get<std::int64_t>(), 0);
    EXPECT_EQ(client.data(15, {{"switch", true}}), json({{"switch", true}}));
    EXPECT_EQ(client.request(16)["c"], 1);
    const auto purged = client.readUntil([&](const json& p) { return isPush(p, 52); });
    EXPECT_TRUE(purged["d"]["record"].empty());
    EXPECT_EQ(purged["d"]["host_file"], table["host_file"]);
    EXPECT_EQ(purged["d"]["host_config"], table["host_config"]);
    EXPECT_FALSE(client.readUntil([&](const json& p) { return isPush(p, 52) && !p["d"]["record"].empty(); }).is_null());
}

// The header block and body of a captured HTTP message, and the Content-Length it names.
struct HttpMessage {
    std::string head, body;
    std::optional<std::size_t> contentLength;
};

HttpMessage splitMessage(const std::string& message)
{
    const auto end = message.find("\r\n\r\n");
    HttpMessage split{message.substr(0, end + 4), end == std::string::npos ? "" : message.substr(end + 4), std::nullopt};
    const std::string field = "\r\nContent-Length: ";
    if (const auto at = split.head.find(field); at != std::string::npos)
        split.contentLength = std::stoul(split.head.substr(at + field.size()));
    return split;
}

bool isPng(const std::string& bytes)
{
    return bytes.starts_with("\x89PNG\r\n\x1A\n") &&
           !QImage::fromData(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), "PNG").isNull();
}

// Each captured message starts with its tunnel's own header and holds the body its length names
// (what the body decoders make of JSON, HTML, images, gzip and chunks, the body view's tests
// show); a tunnel that sent nothing has empty data. Each application has a PNG image of its own.
TEST_F(SimulatorTrafficTest, BodiesAreTheCapturedHttpMessagesAndIconsArePngImages)
{
    // Ended records only: an active tunnel may start sending between the list and the question.
    const auto tunnels = client.tunnels(8, {{"cmd", "last_count"}, {"count", 5000}});
    std::set<std::string> bundles;
    std::size_t requests = 0;
    for (const auto& t : tunnels) {
        SCOPED_TRACE(t["id"]);
        const bool tls = t["type"] == 2;
        for (const auto& [cmd, flag, header] : {std::tuple{20, "hasSend", tls ? "SSLHeaderString" : "headerString"},
                                                std::tuple{21, "hasReceive", tls ? "SSLResponseHeader" : "responseHeader"}}) {
            const auto reply = client.data(cmd, {{"tunnel_id", t["id"]}});
            EXPECT_EQ(reply["tunnel_id"], t["id"]);
            if (t[flag] == false) {
                EXPECT_EQ(reply["data"], "");
                continue;
            }
            const auto message = splitMessage(decode64(reply["data"]));
            EXPECT_EQ(message.head, t[header]);
            EXPECT_EQ(message.contentLength.value_or(message.body.size()), message.body.size());
            requests += cmd == 20 && !message.body.empty();
        }
        if (t["bundleIdentifier"] != "")
            bundles.insert(t["bundleIdentifier"].get<std::string>());
    }
    EXPECT_GT(requests, 0u) << "some request carries a body";
    std::set<std::string> images;
    for (const auto& bundle : bundles) {
        const auto icons = client.data(19, {{"bundleId", bundle}})["icon"];
        ASSERT_EQ(icons.size(), 1u);
        images.insert(decode64(icons[bundle]));
        EXPECT_TRUE(isPng(decode64(icons[bundle]))) << bundle;
    }
    EXPECT_GE(images.size(), 2u);
}

// The greeting answered with anything but the identity, then the password packet without a
// password: refused, logged, and the link closed.
TEST(SimulatorHandshake, APacketOutOfTurnIsRefusedAndTheLinkClosed)
{
    const struct {
        json identity;
        json password;
        const char* message;
    } cases[] = {
        {{{"v", 1}, {"c", 1}, {"i", 0}, {"t", 7}}, nullptr, "Identity expected"},
        {{{"v", 1}, {"c", 1}, {"i", 0}}, {{"v", 1}, {"c", 1}, {"i", 1}, {"d", {{"password", 42}}}}, "Password expected"},
    };
    for (const auto& [identity, password, message] : cases) {
        SCOPED_TRACE(message);
        test::TempDir dir;
        test::SimHarness simulator(fastOptions(dir / "db.connect"));
        test::WireClient raw(dir / "db.connect");
        ASSERT_TRUE(raw.connected());
        raw.read();
        raw.send(identity);
        if (!password.is_null()) {
            EXPECT_EQ(raw.read()["c"], 2);
            raw.send(password);
        }
        const auto reply = raw.read();
        EXPECT_EQ(reply["c"], 0);
        EXPECT_EQ(reply["m"], message);
        EXPECT_TRUE(raw.read().is_null()) << "the service hangs up";
        const auto lines = simulator.lines();
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const json& line) { return line.contains("protocol_error"); }));
    }
}

} // namespace
} // namespace vd
