#include <fstream>
#include <set>
#include <sstream>

#include <QImage>
#include <gtest/gtest.h>

#include "SimHarness.h"
#include "WireClient.h"
#include "platform/Base64.h"
#include "support/Eventually.h"
#include "support/ChildProcess.h"

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

TEST_F(SimulatorTrafficTest, RecordsAreCompleteAndComeFromLocalAndRemoteClients)
{
    const auto active = client.tunnels(7);
    ASSERT_GE(active.size(), 10u);
    std::set<std::int64_t> ids;
    for (const auto& t : active) {
        for (const auto& key : kTunnelKeys)
            ASSERT_TRUE(t.contains(key)) << "missing " << key << " in " << t.dump();
        EXPECT_TRUE(ids.insert(t["id"].get<std::int64_t>()).second) << "id reported twice: " << t["id"];
        EXPECT_LE(t["t_end"].get<double>(), t["t_start"].get<double>()) << "an active tunnel has not ended";
        EXPECT_TRUE(t["type"] >= 1 && t["type"] <= 4) << t["type"];
    }
    std::set<std::string> local{"127.0.0.1", "localhost", "240.0.0.1", "::1"};
    for (const auto& address : info["d"]["local_address"])
        local.insert(address.get<std::string>());
    std::set<std::string> bundles, remote;
    bool localWithoutBundle = false;
    for (const auto& t : recentAndActive()) {
        const auto from = t["fromHost"].get<std::string>();
        if (!local.contains(from)) {
            remote.insert(from);
            EXPECT_EQ(t["processName"], "") << "a remote device has no process";
        } else if (t["bundleIdentifier"] == "") {
            localWithoutBundle = true;
        } else {
            bundles.insert(t["bundleIdentifier"].get<std::string>());
        }
    }
    EXPECT_GE(bundles.size(), 3u);
    EXPECT_GE(remote.size(), 2u);
    EXPECT_TRUE(localWithoutBundle);
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

// The payload of a chunked body, or nothing when its framing is wrong.
std::optional<std::string> unchunk(const std::string& body)
{
    std::string payload;
    for (std::size_t at = 0;;) {
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

// What the system's own gzip makes of the bytes, or nothing when it refuses them.
std::optional<std::string> gunzip(const std::string& packed, const test::TempDir& dir)
{
    std::ofstream(dir / "body.gz", std::ios::binary) << packed;
    test::ChildProcess gzip({"/bin/gzip", "-dc", (dir / "body.gz").string()}, {}, dir / "body");
    return gzip.finish() == 0 ? std::optional(gzip.output()) : std::nullopt;
}

bool isPng(const std::string& bytes)
{
    return bytes.starts_with("\x89PNG\r\n\x1A\n") &&
           !QImage::fromData(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), "PNG").isNull();
}

bool allLinesJson(const std::string& text)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!json::accept(line))
            return false;
    }
    return true;
}

TEST_F(SimulatorTrafficTest, BodiesAreTheCapturedHttpMessagesAndIconsArePngImages)
{
    const auto tunnels = recentAndActive();
    const auto isTls = [](const json& t) { return t["type"] == 2; };
    const auto captured = [&](const json& t, std::uint64_t cmd) {
        const auto reply = client.data(cmd, {{"tunnel_id", t["id"]}});
        EXPECT_EQ(reply["tunnel_id"], t["id"]);
        const auto message = splitMessage(decode64(reply["data"]));
        const bool request = cmd == 20;
        EXPECT_EQ(message.head, t[isTls(t) ? (request ? "SSLHeaderString" : "SSLResponseHeader") : (request ? "headerString" : "responseHeader")])
            << "the message starts with the tunnel's own header";
        return message;
    };
    const struct {
        const char* marker;
        std::function<bool(const std::string& body)> readable;
    } kinds[] = {
        {"Content-Type: application/json; charset=utf-8\r\nContent-Length", [](const std::string& body) { return json::accept(body); }},
        {"Content-Type: text/html", [](const std::string& body) { return body.starts_with("<!DOCTYPE html>"); }},
        {"Content-Type: image/png", isPng},
        {"Content-Encoding: gzip", [&](const std::string& body) { return json::accept(gunzip(body, dir).value_or("")); }},
        {"Transfer-Encoding: chunked", [](const std::string& body) { return allLinesJson(unchunk(body).value_or("\n{")); }},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.marker);
        const auto tunnel = std::find_if(tunnels.begin(), tunnels.end(), [&](const json& t) {
            return t["hasReceive"] == true && t[isTls(t) ? "SSLResponseHeader" : "responseHeader"].get<std::string>().find(kind.marker) != std::string::npos;
        });
        ASSERT_NE(tunnel, tunnels.end());
        const auto response = captured(*tunnel, 21);
        EXPECT_TRUE(kind.readable(response.body));
        EXPECT_EQ(response.contentLength.value_or(response.body.size()), response.body.size());
    }
    // A request with a body, and one without: empty data.
    const auto sent = std::find_if(tunnels.begin(), tunnels.end(), [](const json& t) { return t["hasSend"] == true; });
    ASSERT_NE(sent, tunnels.end());
    const auto request = captured(*sent, 20);
    EXPECT_FALSE(request.body.empty());
    EXPECT_EQ(request.contentLength, request.body.size());
    const auto silent = std::find_if(tunnels.begin(), tunnels.end(), [](const json& t) { return t["hasSend"] == false; });
    ASSERT_NE(silent, tunnels.end());
    EXPECT_EQ(client.data(20, {{"tunnel_id", (*silent)["id"]}})["data"], "");

    std::set<std::string> bundles;
    for (const auto& t : tunnels) {
        if (t["bundleIdentifier"] != "")
            bundles.insert(t["bundleIdentifier"].get<std::string>());
    }
    std::set<std::string> images;
    for (const auto& bundle : bundles) {
        const auto icons = client.data(19, {{"bundleId", bundle}})["icon"];
        ASSERT_EQ(icons.size(), 1u);
        images.insert(decode64(icons[bundle]));
        EXPECT_TRUE(isPng(decode64(icons[bundle]))) << bundle;
    }
    EXPECT_GE(images.size(), 2u) << "each application has an image of its own";
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

// Other tests compare two services started alike: the same seed must give the same traffic.
TEST(SimulatorSeed, TheSameSeedGivesTheSameTrafficAndAnotherSeedOther)
{
    const auto firstReport = [](std::uint64_t seed) {
        test::TempDir dir;
        test::SimHarness simulator(fastOptions(dir / "db.connect", seed, 0ms));
        test::WireClient client(dir / "db.connect");
        client.logIn();
        return std::vector<json>{client.data(7), client.data(8, {{"cmd", "last_count"}, {"count", 1000}}), client.data(13)};
    };
    const auto a = firstReport(42);
    EXPECT_FALSE(a[0]["tunnels"].empty());
    EXPECT_EQ(a, firstReport(42));
    EXPECT_NE(a[0], firstReport(43)[0]);
}

} // namespace
} // namespace vd
