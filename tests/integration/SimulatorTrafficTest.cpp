#include <map>

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

// Every field of a tunnel record, and of a UDP record, that the dashboard reads.
const std::vector<std::string> kTunnelKeys{
    "id", "endId", "type", "closeReason", "t_start", "t_server_ready", "t_dns_resolved", "t_rule_found", "t_proxy_ready",
    "t_close", "t_end", "host", "port", "headerString", "headerModified", "modifiedHeaderString", "responseHeader",
    "responseCode", "responseModified", "SSLHost", "SSLHeaderString", "SSLHeaderModified", "SSLModifiedHeaderString",
    "SSLResponseHeader", "SSLResponseCode", "SSLResponseModified", "hasReceive", "hasSend", "processName",
    "processIdentifier", "bundleIdentifier", "processPath", "fromHost", "fromPort", "ipAddr", "outboundMode", "ruleInfo",
    "policyName", "rx", "tx", "rx_speed", "tx_speed", "rx_max_speed", "tx_max_speed"};
const std::vector<std::string> kUdpKeys{"id",      "status",       "direction",  "fromHost", "fromPort", "host",  "port",
                                        "outboundMode", "ruleInfo", "policyName", "t_time",   "t_rule_found", "t_end"};

std::string decode64(const json& text)
{
    const auto bytes = base64::decodeStrict(text.get<std::string>());
    EXPECT_TRUE(bytes) << "not Base64";
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

void expectKeys(const json& record, const std::vector<std::string>& keys)
{
    for (const auto& key : keys)
        EXPECT_TRUE(record.contains(key)) << "missing " << key << " in " << record.dump().substr(0, 200);
}

class SimulatorTrafficTest : public ::testing::Test {
protected:
    test::TempDir dir;
    // At 5 ms a step, forty steps of the service's time pass in a real second.
    test::SimHarness simulator{{.socketPath = dir / "db.connect", .seed = 7, .tickInterval = 5ms}};
    test::WireClient client{dir / "db.connect"};
    const json info = client.logIn();
};

// The replies the other tests do not read field by field: switches, icons, refusals, and the
// protocol errors the service logs for what breaks the contract.
TEST_F(SimulatorTrafficTest, EveryAnswerCarriesItsNumbersAndFieldsOnTheWire)
{
    EXPECT_EQ(info["t"], 1);
    EXPECT_EQ(info["i"], 0);
    expectKeys(info["d"], {"service_start_time", "mitm_enable", "record_traffic", "local_address", "icon"});
    struct Exchange {
        std::uint64_t t;
        json data;
        std::int64_t code; // of the reply; a refusal has a message and no "d"
        json reply;        // the reply's "d" as it must be, or null
        const char* logged = nullptr; // what the protocol error line names, when there is one
        std::int64_t requestCode = 1;
    };
    constexpr std::int64_t kNoTunnel = std::int64_t(1) << 50;
    const std::vector<Exchange> exchanges{
        {10, {{"switch", true}}, 1, {{"c", true}}},
        {11, {{"switch", true}}, 1, {{"c", true}}},
        {19, {{"bundleId", "com.example.nobody"}}, 1, {{"icon", json::object()}}},
        {17, {{"domain", "never-resolved.example"}}, 0, nullptr},
        {18, {{"tunnel_id", kNoTunnel}}, 0, nullptr},
        {21, {{"tunnel_id", kNoTunnel}}, 0, nullptr},
        {18, {{"tunnel_id", "5"}}, 0, nullptr, "tunnel_id"},
        {7, nullptr, 0, nullptr, "code 0", 0},
        {99, nullptr, 0, nullptr, "99"},
    };
    std::vector<std::string> logged;
    for (const auto& exchange : exchanges) {
        SCOPED_TRACE(exchange.t);
        const auto reply = client.request(exchange.t, exchange.data, exchange.requestCode);
        EXPECT_EQ(reply["v"], 1);
        EXPECT_EQ(reply["t"], exchange.t);
        EXPECT_EQ(reply["c"], exchange.code);
        EXPECT_EQ(reply.contains("d"), exchange.code != 0);
        EXPECT_EQ(reply.value("m", "").empty(), exchange.code != 0);
        if (!exchange.reply.is_null()) {
            EXPECT_EQ(reply["d"], exchange.reply);
        }
        if (exchange.logged)
            logged.push_back(exchange.logged);
    }
    std::vector<std::string> errors;
    ASSERT_TRUE(test::eventually([&] {
        errors.clear();
        for (const auto& line : simulator.lines()) {
            if (line.contains("protocol_error"))
                errors.push_back(line["protocol_error"]);
        }
        return errors.size() >= logged.size();
    }));
    ASSERT_EQ(errors.size(), logged.size());
    for (std::size_t i = 0; i < logged.size(); ++i)
        EXPECT_NE(errors[i].find(logged[i]), std::string::npos) << errors[i];
}

// Active and recent records carry every field; recent ones come oldest first and, asked from the
// largest endId the dashboard holds, only newer ones follow.
TEST_F(SimulatorTrafficTest, RecordsCarryEveryFieldAndFollowOnByEndId)
{
    const auto active = client.tunnels(7);
    EXPECT_GE(active.size(), 10u);
    for (const auto& t : active)
        expectKeys(t, kTunnelKeys);
    const auto all = client.tunnels(8, {{"cmd", "last_count"}, {"count", 1000}});
    ASSERT_GE(all.size(), 2u) << "the warm-up leaves records behind";
    for (std::size_t i = 1; i < all.size(); ++i)
        EXPECT_GT(all[i]["endId"], all[i - 1]["endId"]) << "records come oldest first";
    const auto last = all.back()["endId"].get<std::int64_t>();
    std::vector<json> newer;
    ASSERT_TRUE(test::eventually([&] { return !(newer = client.tunnels(8, {{"cmd", "from_to_last"}, {"from", last}})).empty(); }));
    for (const auto& r : newer)
        EXPECT_GT(r["endId"], last);
}

TEST_F(SimulatorTrafficTest, PushesComeOnlyWhileSwitchedOn)
{
    const auto isPush = [](const json& p, std::uint64_t t) { return p["t"] == t && p["i"] == 0; };
    // UDP exchanges are reported again under the same id as they go on.
    EXPECT_EQ(client.data(22, {{"switch", true}}), json({{"switch", true}}));
    std::map<std::int64_t, int> reports;
    for (int pushes = 0; pushes < 100 && std::ranges::none_of(reports, [](auto& r) { return r.second > 1; }); ++pushes) {
        const auto push = client.readUntil([&](const json& p) { return isPush(p, 54); });
        ASSERT_FALSE(push.is_null());
        const auto record = json::parse(push["d"]["tunnel_info"].get<std::string>());
        expectKeys(record, kUdpKeys);
        ++reports[record["id"]];
    }
    EXPECT_TRUE(std::ranges::any_of(reports, [](auto& r) { return r.second > 1; }));
    EXPECT_EQ(client.data(22, {{"switch", false}}), json({{"switch", false}}));

    // Whole current reports while the tunnel push is on; no UDP record once that is off.
    EXPECT_EQ(client.data(14, {{"switch", true}}), json({{"switch", true}}));
    const auto report = client.readUntil([&](const json& p) {
        EXPECT_NE(p["t"], 54) << "a UDP record after the push was switched off";
        return isPush(p, 51);
    });
    EXPECT_FALSE(report["d"]["tunnels"].empty());
    EXPECT_EQ(client.data(14, {{"switch", false}}), json({{"switch", false}}));

    // The DNS table after a purge keeps only the configured names; then new ones come.
    const auto table = client.data(13);
    EXPECT_EQ(client.data(15, {{"switch", true}}), json({{"switch", true}}));
    EXPECT_EQ(client.request(16)["c"], 1);
    const auto purged = client.readUntil([&](const json& p) { return isPush(p, 52); });
    EXPECT_TRUE(purged["d"]["record"].empty());
    EXPECT_EQ(purged["d"]["host_config"], table["host_config"]);
    EXPECT_FALSE(client.readUntil([&](const json& p) { return isPush(p, 52) && !p["d"]["record"].empty(); }).is_null());
}

// An application's icon is a PNG image; the captured bodies are read by the body view's tests.
TEST_F(SimulatorTrafficTest, IconsArePngImages)
{
    const auto tunnels = client.tunnels(8, {{"cmd", "last_count"}, {"count", 5000}});
    const auto app = std::ranges::find_if(tunnels, [](const json& t) { return t["bundleIdentifier"] != ""; });
    ASSERT_TRUE(app != tunnels.end());
    const std::string bundle = (*app)["bundleIdentifier"];
    const std::string png = decode64(client.data(19, {{"bundleId", bundle}})["icon"][bundle]);
    EXPECT_FALSE(QImage::fromData(QByteArray(png.data(), static_cast<qsizetype>(png.size())), "PNG").isNull());
}

} // namespace
} // namespace vd
