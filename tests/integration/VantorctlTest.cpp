#include <fcntl.h>
#include <signal.h>

#include <algorithm>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "SimHarness.h"
#include "UsbmuxHarness.h"
#include "WireClient.h"
#include "platform/Base64.h"
#include "support/ChildProcess.h"
#include "support/Eventually.h"
#include "support/FreePort.h"
#include "support/RawPeer.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

constexpr const char* kTcpPassword = "tcp-secret";

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// What one run of vantorctl left behind.
struct Outcome {
    int code = -1;
    std::string out, err;

    std::vector<std::string> lines() const { return splitLines(out); }
    // Every line of stdout must be one JSON object.
    std::vector<json> records() const
    {
        std::vector<json> objects;
        for (const auto& line : lines()) {
            objects.push_back(json::parse(line, nullptr, false));
            EXPECT_TRUE(objects.back().is_object()) << "not a JSON object: " << line;
        }
        return objects;
    }
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome)
{
    return out << "exit " << outcome.code << "\n--- stdout\n" << outcome.out << "--- stderr\n" << outcome.err;
}

// The installed vantorctl, started as a shell would start it. VANTOR_PASSWORD is never inherited
// from the test's own environment.
std::unique_ptr<test::ChildProcess> start(const test::TempDir& dir, std::vector<std::string> arguments,
                                          test::EnvironmentChanges env = {}, std::optional<std::filesystem::path> stdoutPath = {})
{
    static int runs = 0;
    const std::string name = "run" + std::to_string(++runs);
    arguments.insert(arguments.begin(), VANTORCTL_PATH);
    env.try_emplace("VANTOR_PASSWORD", std::nullopt);
    return std::make_unique<test::ChildProcess>(std::move(arguments), env, stdoutPath.value_or(dir / (name + ".out")), dir / (name + ".err"));
}

Outcome finish(test::ChildProcess& ctl)
{
    const int code = ctl.finish();
    return {code, ctl.output(), ctl.errors()};
}

Outcome run(const test::TempDir& dir, std::vector<std::string> arguments, const test::EnvironmentChanges& env = {})
{
    return finish(*start(dir, std::move(arguments), env));
}

// One line on stderr that starts with the program's name: what a person sees and a script logs.
void expectOneLineError(const Outcome& outcome, const std::string& mentioning)
{
    const auto lines = splitLines(outcome.err);
    ASSERT_EQ(lines.size(), 1u) << outcome;
    EXPECT_TRUE(lines[0].starts_with("vantorctl: ")) << lines[0];
    EXPECT_NE(lines[0].find(mentioning), std::string::npos) << lines[0];
}

std::vector<std::int64_t> sortedIds(const std::vector<json>& records)
{
    std::vector<std::int64_t> ids;
    for (const auto& record : records)
        ids.push_back(record.at("id").get<std::int64_t>());
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::set<std::string> cachedDomains(const std::vector<json>& entries)
{
    std::set<std::string> domains;
    for (const auto& entry : entries) {
        if (entry.at("type") == "Dynamic")
            domains.insert(entry.at("domain").get<std::string>());
    }
    return domains;
}

sim::SimulatorOptions simulatorOptions(const test::TempDir& dir, std::chrono::milliseconds tick)
{
    sim::SimulatorOptions options;
    options.socketPath = dir / "svc.sock";
    options.tcpPort = 0;
    options.password = kTcpPassword;
    options.tickInterval = tick;
    return options;
}

// A service whose time stands still, so vantorctl's answers and the ones a client reads off the
// wire itself must agree.
class VantorctlTest : public ::testing::Test {
protected:
    explicit VantorctlTest(std::chrono::milliseconds tick = 0ms) : sim(simulatorOptions(dir, tick)) {}
    void SetUp() override { direct.logIn(); }

    Outcome runLocal(std::vector<std::string> arguments, const test::EnvironmentChanges& env = {}) const
    {
        arguments.insert(arguments.begin(), {"--socket", socket.string()});
        return run(dir, std::move(arguments), env);
    }
    std::vector<std::string> tcp(std::vector<std::string> arguments) const
    {
        arguments.insert(arguments.begin(), {"--host", "127.0.0.1", "--port", std::to_string(sim.tcpPort())});
        return arguments;
    }
    std::string body(std::int64_t id, bool request)
    {
        const auto bytes = base64::decodeStrict(direct.data(request ? 20 : 21, {{"tunnel_id", id}}).value("data", ""));
        return bytes ? std::string(bytes->begin(), bytes->end()) : "not Base64";
    }
    std::size_t received(std::uint64_t t)
    {
        const auto packets = sim.received();
        return static_cast<std::size_t>(std::count_if(packets.begin(), packets.end(), [&](const json& p) { return p.value("t", 0u) == t; }));
    }

    test::TempDir dir;
    std::filesystem::path socket = dir / "svc.sock";
    test::SimHarness sim;
    test::WireClient direct{socket};
};

TEST_F(VantorctlTest, TunnelsListEveryActiveTunnelInAlignedColumnsOrWithTheServicesNumbers)
{
    const auto table = runLocal({"tunnels"});
    ASSERT_EQ(table.code, 0) << table;
    EXPECT_TRUE(table.err.empty()) << table;
    const auto lines = table.lines();
    ASSERT_GE(lines.size(), 2u) << table;
    std::vector<json> listed;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string &header = lines[0], &row = lines[i];
        SCOPED_TRACE(header + "\n" + row);
        listed.push_back({{"id", std::stoll(row)}});
        // Left-aligned columns start where their title starts, after the two-space gap;
        // right-aligned ones end where their title ends (the first "UP" and "DOWN" are the byte
        // counts, the speeds come after them).
        for (const std::string title : {"START", "PROCESS", "METHOD", "SERVER", "POLICY"})
            EXPECT_EQ(row.substr(header.find(title) - 2, 3).find_first_not_of(' '), 2u) << title;
        for (const std::string title : {"ID", "CODE", "UP", "DOWN", "UP/S", "DOWN/S", "DURATION"}) {
            const auto last = header.find(title) + title.size() - 1;
            EXPECT_TRUE(row.at(last) != ' ' && row.at(last + 1) == ' ') << title;
        }
    }
    const auto truth = direct.tunnels(7);
    EXPECT_EQ(sortedIds(listed), sortedIds(truth));

    const auto asJson = runLocal({"tunnels", "--json"}).records();
    const double startTime = direct.data(1)["service_start_time"];
    ASSERT_EQ(sortedIds(asJson), sortedIds(truth));
    for (const auto& record : asJson) {
        SCOPED_TRACE(record.dump());
        const json& tunnel = *std::find_if(truth.begin(), truth.end(), [&](const json& t) { return t["id"] == record["id"]; });
        for (const auto& [ours, theirs] : {std::pair{"rx", "rx"}, {"rx_speed", "rx_speed"}, {"host", "host"}, {"port", "port"},
                                           {"process", "processName"}, {"pid", "processIdentifier"}, {"policy", "policyName"}})
            EXPECT_EQ(record.at(ours), tunnel.at(theirs)) << ours;
        EXPECT_EQ(record.at("status"), "Active");
        EXPECT_NEAR(record.at("start").get<double>(), startTime + tunnel.at("t_start").get<double>(), 0.001);
    }
}

TEST_F(VantorctlTest, RecentAndDnsListWhatTheServiceHolds)
{
    const auto records = runLocal({"recent", "--count", "5", "--json"}).records();
    const auto truth = direct.tunnels(8, {{"cmd", "last_count"}, {"count", 5}});
    ASSERT_EQ(truth.size(), 5u) << "the simulator's warm-up leaves recent records";
    EXPECT_EQ(sortedIds(records), sortedIds(truth));
    EXPECT_TRUE(std::is_sorted(records.begin(), records.end(), [](const json& a, const json& b) { return a["id"] < b["id"]; }));
    for (const auto& record : records)
        EXPECT_TRUE(record.at("status") != "Active" && record.contains("close_reason")) << record;
    EXPECT_EQ(runLocal({"recent", "--count", "5"}).lines().size(), 6u) << "a header and five rows";
    // An empty answer posts no refresh: the command must not wait for one.
    const auto none = runLocal({"--timeout", "5", "recent", "--count", "0"});
    EXPECT_EQ(none.code, 0) << none;
    EXPECT_EQ(none.lines().size(), 1u) << "the header alone\n" << none;

    const auto entries = runLocal({"dns", "--json"}).records();
    const json table = direct.data(13);
    std::multiset<std::string> expected, listed;
    for (const char* key : {"host_file", "host_config", "record"}) {
        for (const auto& entry : table.at(key))
            expected.insert(entry.at("domain").get<std::string>());
    }
    for (const auto& entry : entries) {
        listed.insert(entry.at("domain").get<std::string>());
        EXPECT_TRUE(entry.at("ips").is_array()) << entry;
        EXPECT_EQ(entry.at("ttl").is_number_integer(), entry.at("type") == "Dynamic") << entry;
    }
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(runLocal({"dns"}).lines().size(), entries.size() + 1);
}

// Each action prints what the service confirmed, as a line or as JSON, and the service shows it done.
TEST_F(VantorctlTest, ActionsPrintWhatTheServiceConfirmedAndTakeEffect)
{
    const auto tunnels = sortedIds(direct.tunnels(7));
    const auto dns = runLocal({"dns", "--json"}).records();
    const auto cached = cachedDomains(dns);
    ASSERT_GE(tunnels.size(), 2u);
    ASSERT_GE(cached.size(), 2u);
    const std::string first = std::to_string(tunnels.front()), second = std::to_string(tunnels.back()), domain = *cached.begin();
    const struct {
        std::vector<std::string> arguments;
        json printed; // a text line, or the one JSON object
    } actions[] = {
        {{"close", first}, "closed tunnel " + first},
        {{"--json", "close", second}, {{"closed", tunnels.back()}}},
        {{"record", "off"}, "record: off"},
        {{"mitm", "off", "--json"}, {{"mitm", false}}},
        {{"--json", "record", "on"}, {{"record", true}}},
        {{"dns-delete", domain}, "deleted the cached DNS entry for " + domain},
        {{"dns-purge", "--json"}, {{"cached_before", cached.size() - 1}, {"cached_after", 0}}},
    };
    for (const auto& [arguments, printed] : actions) {
        SCOPED_TRACE(arguments.front() + " " + arguments.back());
        const auto outcome = runLocal(arguments);
        ASSERT_EQ(outcome.code, 0) << outcome;
        const json shown = printed.is_string() ? json(outcome.out) : json::parse(outcome.out, nullptr, false);
        EXPECT_EQ(shown, printed.is_string() ? json(printed.get<std::string>() + "\n") : printed);
    }
    EXPECT_EQ(sortedIds(direct.tunnels(7)).size(), tunnels.size() - 2);
    EXPECT_EQ(direct.data(1)["record_traffic"], true);
    EXPECT_EQ(direct.data(1)["mitm_enable"], false);
    EXPECT_EQ(received(10), 2u);
    const auto after = runLocal({"dns", "--json"}).records();
    EXPECT_TRUE(cachedDomains(after).empty());
    EXPECT_EQ(after.size(), dns.size() - cached.size()) << "configured and system entries stay";
}

// Bodies go byte for byte to a file or stdout, never as binary onto a terminal, and the dump and
// icon stores vantorctl needs stay in a private folder under TMPDIR that goes on exit.
TEST_F(VantorctlTest, BodiesAreWrittenByteForByteAndLeaveNoFilesBehind)
{
    const auto home = dir / "home", caches = dir / "caches", temporary = dir / "tmp";
    for (const auto& folder : {home, caches, temporary})
        std::filesystem::create_directory(folder);
    const test::EnvironmentChanges env{{"HOME", home.string()}, {"XDG_CACHE_HOME", caches.string()}, {"TMPDIR", temporary.string()}};
    const auto recent = runLocal({"recent", "--count", "200", "--json"}, env).records();
    const auto withBody = [&](const char* part, bool binary = false) {
        const auto found = std::find_if(recent.begin(), recent.end(), [&](const json& r) {
            return r.at(part) == true && (!binary || body(r.at("id"), false).find('\0') != std::string::npos);
        });
        EXPECT_NE(found, recent.end()) << "no recent tunnel has such a " << part;
        return found == recent.end() ? std::string("-1") : std::to_string(found->at("id").get<std::int64_t>());
    };
    const auto requestId = withBody("has_request_body");
    const auto file = dir / "request.bin";
    const auto toFile = runLocal({"body", "request", requestId, "-o", file.string()}, env);
    ASSERT_EQ(toFile.code, 0) << toFile;
    const std::string request = body(std::stoll(requestId), true);
    ASSERT_FALSE(request.empty());
    EXPECT_EQ(test::readFile(file), request);
    EXPECT_NE(toFile.out.find(std::to_string(request.size()) + " bytes"), std::string::npos) << toFile;

    const auto responseId = withBody("has_response_body");
    const auto toStdout = runLocal({"body", "response", responseId}, env);
    ASSERT_EQ(toStdout.code, 0) << toStdout;
    EXPECT_EQ(toStdout.out, body(std::stoll(responseId), false));
    EXPECT_TRUE(toStdout.err.empty()) << toStdout;
    const auto asJson = runLocal({"--json", "body", "response", responseId, "-o", (dir / "r.bin").string()}, env);
    EXPECT_EQ(asJson.records(), std::vector<json>{json({{"id", std::stoll(responseId)}, {"part", "response"},
                                                        {"bytes", toStdout.out.size()}, {"file", (dir / "r.bin").string()}})}) << asJson;

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    const auto ctl = start(dir, {"--socket", socket.string(), "body", "response", withBody("has_response_body", true)}, env,
                           std::filesystem::path(ptsname(master)));
    const auto onTerminal = finish(*ctl);
    close(master);
    EXPECT_EQ(onTerminal.code, 1) << onTerminal;
    expectOneLineError(onTerminal, "-o FILE");
    for (const auto& folder : {home, caches, temporary})
        EXPECT_TRUE(std::filesystem::is_empty(folder)) << folder;
}

// Every way a run can fail against a running service: its exit code and one line on stderr.
TEST_F(VantorctlTest, FailuresEndWithTheirCodeAndOneLineNamingTheCause)
{
    const auto missing = dir / "nobody" / "home.sock";
    const auto freePort = std::to_string(test::unusedTcpPort());
    // Accepts the connection (the kernel does, for a listening socket) but never greets.
    test::RawPeer silent(dir / "silent.sock");
    const test::EnvironmentChanges noDaemon{{"USBMUXD_SOCKET_ADDRESS", (dir / "no-daemon").string()}};
    const auto local = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--socket", socket.string()});
        return arguments;
    };
    const struct {
        std::vector<std::string> arguments;
        test::EnvironmentChanges env;
        int code;
        std::string mentioning;
    } cases[] = {
        {local({"body", "request", "987654"}), {}, 1, "987654"},
        {local({"close", "987654", "--json"}), {}, 1, "no active tunnel 987654"},
        {local({"dns-delete", "never-resolved.example"}), {}, 1, "never-resolved.example"},
        {{"--socket", missing.string(), "tunnels"}, {}, 3, missing.string()},
        {{"--host", "127.0.0.1", "--port", freePort, "--password", "x", "tunnels"}, {}, 3, "127.0.0.1:" + freePort},
        {{"--socket", silent.path().string(), "--timeout", "0.3", "tunnels"}, {}, 5, "no answer"},
        {tcp({"--password", "guess", "tunnels"}), {}, 4, "Wrong password"},
        {tcp({"dns"}), {{"VANTOR_PASSWORD", "guess"}}, 4, "Wrong password"},
        // The ends of both port ranges are ports to try.
        {{"--host", "127.0.0.1", "--port", "1", "--password", "x", "tunnels"}, {}, 3, "127.0.0.1:1"},
        {{"--host", "127.0.0.1", "--port", "65535", "--password", "x", "tunnels"}, {}, 3, "127.0.0.1:65535"},
        {{"--usb", "0", "--password", "x", "--timeout", "0.3", "tunnels"}, noDaemon, 3, "USB device port 0"},
        {{"--usb", "65534", "--password", "x", "--timeout", "0.3", "tunnels"}, noDaemon, 3, "USB device port 65534"},
    };
    for (const auto& failure : cases) {
        SCOPED_TRACE(failure.mentioning);
        const auto outcome = run(dir, failure.arguments, failure.env);
        EXPECT_EQ(outcome.code, failure.code) << outcome;
        EXPECT_TRUE(outcome.out.empty()) << outcome;
        expectOneLineError(outcome, failure.mentioning);
    }
    EXPECT_EQ(received(18), 0u) << "an unknown tunnel is not sent for closing";
}

// Over TCP the password option wins over the environment; over USB the run waits for the device.
TEST_F(VantorctlTest, TcpAndUsbLogIn)
{
    const auto byOption = run(dir, tcp({"--password", kTcpPassword, "tunnels", "--json"}), {{"VANTOR_PASSWORD", "stale"}});
    EXPECT_EQ(sortedIds(byOption.records()), sortedIds(direct.tunnels(7))) << byOption;
    EXPECT_EQ(run(dir, tcp({"tunnels"}), {{"VANTOR_PASSWORD", kTcpPassword}}).code, 0);

    test::UsbmuxHarness mux(dir / "usbmuxd");
    mux.simulator.forwardPort(3, 6171, socket);
    const test::EnvironmentChanges env{{"USBMUXD_SOCKET_ADDRESS", (dir / "usbmuxd").string()}};
    const auto noDevice = run(dir, {"--usb", "6170", "--password", contract::kLocalPassword, "--timeout", "0.5", "tunnels"}, env);
    EXPECT_EQ(noDevice.code, 3) << noDevice;
    expectOneLineError(noDevice, "USB device port 6170");
    mux.simulator.attach(3);
    const auto outcome = run(dir, {"--usb", "6170", "--password", contract::kLocalPassword, "tunnels", "--json"}, env);
    EXPECT_EQ(outcome.code, 0) << outcome;
    EXPECT_FALSE(outcome.records().empty()) << outcome;
}

// A service whose time runs fast, so UDP records and changing lists come within milliseconds.
class VantorctlLiveTest : public VantorctlTest {
protected:
    VantorctlLiveTest() : VantorctlTest(5ms) {}
};

TEST_F(VantorctlLiveTest, UdpPrintsEachRecordAsItArrivesOrOneTableAfterItsTime)
{
    const auto watched = runLocal({"udp", "--watch", "--count", "3", "--json"});
    const auto records = watched.records();
    ASSERT_EQ(records.size(), 3u) << watched;
    for (const auto& record : records)
        EXPECT_TRUE(record.at("id").is_number_integer() && record.at("status").is_string() && record.at("time").is_number()) << record;
    EXPECT_GE(received(22), 1u) << "the UDP push was asked for";
    const auto table = runLocal({"udp", "--seconds", "0.3"});
    ASSERT_GE(table.lines().size(), 2u) << "records arrive within 0.3 s at this pace\n" << table;
    EXPECT_EQ(table.lines()[0].find("ID"), table.lines()[0].find_first_not_of(' ')) << table;
}

// Watching redraws until its count, until interrupted, or until the service goes away.
TEST_F(VantorctlLiveTest, WatchRedrawsUntilItsCountAnInterruptOrTheServiceGoes)
{
    const auto counted = runLocal({"watch", "--interval", "0.05", "--count", "2"});
    EXPECT_EQ(counted.out.find('\x1b'), std::string::npos) << "no terminal codes into a file";
    const auto lines = counted.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.find("active tunnels at") != std::string::npos; }), 2);
    std::set<int> frames;
    for (const auto& record : runLocal({"watch", "--interval", "0.05", "--count", "2", "--json"}).records())
        frames.insert(record.at("frame").get<int>());
    EXPECT_EQ(frames, (std::set<int>{1, 2}));

    const auto temporary = dir / "tmp";
    std::filesystem::create_directory(temporary);
    for (const bool interrupted : {true, false}) {
        SCOPED_TRACE(interrupted ? "interrupted" : "service gone");
        const auto watch = start(dir, {"--socket", socket.string(), "watch", "--interval", "0.05"}, {{"TMPDIR", temporary.string()}});
        ASSERT_TRUE(test::eventually([&] { return watch->output().find("active tunnels at") != std::string::npos; }));
        interrupted ? watch->signal(SIGINT) : sim.closeAllConnections();
        const auto outcome = finish(*watch);
        EXPECT_EQ(outcome.code, interrupted ? 0 : 3) << outcome;
        if (!interrupted)
            expectOneLineError(outcome, "lost the connection");
        EXPECT_EQ(outcome.err.empty(), interrupted) << outcome;
        EXPECT_TRUE(std::filesystem::is_empty(temporary)) << "its private folder is removed";
    }
}

TEST(VantorctlArguments, BadArgumentsEndWithTwoBeforeConnecting)
{
    test::TempDir dir;
    const std::vector<std::vector<std::string>> cases{
        {}, {"frobnicate"}, {"close"}, {"close", "abc"}, {"close", "-4"}, {"record", "maybe"}, {"mitm"},
        {"body", "headers", "1"}, {"body", "request"}, {"dns-delete"}, {"recent", "--count", "many"},
        {"watch", "--interval", "0"}, {"--usb", "6170", "--host", "example.org", "tunnels"},
        {"--socket", "a.sock", "--host", "example.org", "tunnels"}, {"--timeout", "0", "tunnels"},
        // One past each end of both port ranges; the ends themselves are tried among the failures.
        {"--host", "127.0.0.1", "--port", "0", "tunnels"}, {"--host", "127.0.0.1", "--port", "65536", "tunnels"},
        {"--usb", "-1", "tunnels"}, {"--usb", "65535", "tunnels"},
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        // No service runs here: had it tried to connect, the code would be 3.
        const auto outcome = run(dir, arguments, {{"HOME", dir.path().string()}});
        EXPECT_EQ(outcome.code, 2) << outcome;
        EXPECT_TRUE(outcome.out.empty()) << outcome;
        expectOneLineError(outcome, "vantorctl");
    }
    const auto help = run(dir, {"--help"});
    EXPECT_EQ(help.code, 0) << help;
    for (const char* text : {"Exit codes", "VANTOR_PASSWORD", "tunnels", "recent", "dns-delete", "body"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    EXPECT_NE(run(dir, {"body", "--help"}).out.find("--output"), std::string::npos);
}

} // namespace
} // namespace vd
