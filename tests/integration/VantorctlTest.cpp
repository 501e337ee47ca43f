#include <fcntl.h>
#include <signal.h>

#include <algorithm>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "BodyGallery.h"
#include "SimHarness.h"
#include "UsbmuxHarness.h"
#include "VdVersion.h"
#include "WireClient.h"
#include "platform/Base64.h"
#include "support/ChildProcess.h"
#include "support/Eventually.h"
#include "support/FakeUsbDaemon.h"
#include "support/FreePort.h"
#include "support/RawPeer.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

constexpr const char* kTcpPassword = "tcp-secret";
constexpr auto npos = std::string::npos;

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
                                          test::EnvironmentChanges env = {},
                                          std::optional<std::filesystem::path> stdoutPath = {})
{
    static int runs = 0;
    const std::string name = "run" + std::to_string(++runs);
    arguments.insert(arguments.begin(), VANTORCTL_PATH);
    env.try_emplace("VANTOR_PASSWORD", std::nullopt);
    const auto out = stdoutPath.value_or(dir / (name + ".out"));
    return std::make_unique<test::ChildProcess>(std::move(arguments), env, out, dir / (name + ".err"));
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

std::vector<std::int64_t> ids(const std::vector<json>& records, bool sorted = false)
{
    std::vector<std::int64_t> ids;
    for (const auto& record : records)
        ids.push_back(record.at("id").get<std::int64_t>());
    if (sorted)
        std::ranges::sort(ids);
    return ids;
}

// A service whose time stands still, so vantorctl's answers and the ones a client reads off the
// wire itself must agree.
class VantorctlTest : public ::testing::Test {
protected:
    explicit VantorctlTest(std::chrono::milliseconds tick = 0ms, bool bodyGallery = false)
        : sim({.socketPath = socket, .tcpPort = 0, .password = kTcpPassword, .tickInterval = tick, .bodyGallery = bodyGallery})
    {
    }
    void SetUp() override { direct.logIn(); }

    Outcome runLocal(std::vector<std::string> arguments, const test::EnvironmentChanges& env = {}) const
    {
        return run(dir, local(std::move(arguments)), env);
    }
    std::vector<std::string> local(std::vector<std::string> arguments) const
    {
        arguments.insert(arguments.begin(), {"--socket", socket.string()});
        return arguments;
    }
    std::vector<std::string> tcp(std::vector<std::string> arguments) const
    {
        arguments.insert(arguments.begin(), {"--host", "127.0.0.1", "--port", std::to_string(sim.tcpPort())});
        return arguments;
    }
    std::string body(std::int64_t id, bool request)
    {
        const auto reply = direct.data(request ? 20 : 21, {{"tunnel_id", id}});
        const auto bytes = base64::decodeStrict(reply.value("data", ""));
        return bytes ? std::string(bytes->begin(), bytes->end()) : "not Base64";
    }
    std::size_t received(std::uint64_t t)
    {
        return std::ranges::count_if(sim.received(), [&](const json& p) { return p.value("t", 0u) == t; });
    }

    test::TempDir dir;
    std::filesystem::path socket = dir / "svc.sock";
    test::SimHarness sim;
    test::WireClient direct{socket};
};

// Active and recent tunnels, as a table whose columns line up under their titles, or as one JSON
// object each, in the order they were opened, with the service's own figures.
TEST_F(VantorctlTest, TunnelListsShowWhatTheServiceHolds)
{
    const double startTime = direct.data(1)["service_start_time"];
    const auto recent = direct.tunnels(8, {{"cmd", "last_count"}, {"count", 5}});
    ASSERT_EQ(recent.size(), 5u) << "the simulator's warm-up leaves recent records";
    const struct {
        std::vector<std::string> arguments;
        std::vector<json> truth;
    } lists[] = {{{"tunnels"}, direct.tunnels(7)}, {{"recent", "--count", "5"}, recent}};
    for (auto [arguments, truth] : lists) {
        SCOPED_TRACE(arguments.front());
        const auto table = runLocal(arguments);
        ASSERT_EQ(table.code, 0) << table;
        const auto lines = table.lines();
        ASSERT_EQ(lines.size(), truth.size() + 1) << table;
        for (const std::string& row : lines) {
            const std::string& header = lines[0];
            SCOPED_TRACE(header + "\n" + row);
            // Left-aligned columns start where their title starts, after the two-space gap;
            // right-aligned ones end where their title ends (the first "UP" and "DOWN" are the
            // byte counts, the speeds come after them).
            for (const std::string title : {"START", "PROCESS", "METHOD", "SERVER", "POLICY"})
                EXPECT_EQ(row.substr(header.find(title) - 2, 3).find_first_not_of(' '), 2u) << title;
            for (const std::string title : {"ID", "CODE", "UP", "DOWN", "UP/S", "DOWN/S", "DURATION"}) {
                const auto at = header.find(title);
                EXPECT_TRUE(at == npos || row.substr(at + title.size() - 1, 2).find(' ') == 1) << title;
            }
        }
        arguments.push_back("--json");
        const auto records = runLocal(arguments).records();
        ASSERT_EQ(ids(records), ids(truth, true));
        for (const auto& record : records) {
            SCOPED_TRACE(record.dump());
            const auto sameId = [&](const json& t) { return t["id"] == record["id"]; };
            const auto& tunnel = *std::ranges::find_if(truth, sameId);
            for (const auto& [ours, theirs] : {std::pair{"rx", "rx"}, {"rx_speed", "rx_speed"},
                                               {"host", "host"}, {"port", "port"}, {"process", "processName"},
                                               {"pid", "processIdentifier"}, {"policy", "policyName"}})
                EXPECT_EQ(record.at(ours), tunnel.at(theirs)) << ours;
            EXPECT_EQ(record.at("status") == "Active", arguments.front() == "tunnels");
            EXPECT_NE(record.contains("close_reason"), arguments.front() == "tunnels");
            EXPECT_NEAR(record["start"], startTime + tunnel["t_start"].get<double>(), 0.001);
        }
    }
    // An empty answer posts no refresh: the command must not wait for one.
    const auto none = runLocal({"--timeout", "5", "recent", "--count", "0"});
    EXPECT_EQ(none.code, 0) << none;
    EXPECT_EQ(none.lines().size(), 1u) << "the header alone\n" << none;
}

// Each run prints what the service confirmed, as a line or as JSON, and the service shows it
// done; each failure ends with its code and one line on stderr naming the cause. Bad arguments
// end with 2 before any connection is tried: HOME leads to no service, so trying would end with 3.
// Bodies go byte for byte to a file or stdout, never as binary onto a terminal, and the dump and
// icon stores vantorctl needs stay in a private folder under TMPDIR that goes on exit.
TEST_F(VantorctlTest, EachRunPrintsWhatItDidOrEndsWithItsCodeAndOneLineNamingTheCause)
{
    const auto home = dir / "home", caches = dir / "caches", temporary = dir / "tmp";
    for (const auto& folder : {home, caches, temporary})
        std::filesystem::create_directory(folder);
    const test::EnvironmentChanges tidy{{"HOME", home.string()}, {"XDG_CACHE_HOME", caches.string()},
                                        {"TMPDIR", temporary.string()}};
    const auto tunnels = ids(direct.tunnels(7), true);
    ASSERT_GE(tunnels.size(), 2u);
    const auto dns = runLocal({"dns", "--json"}).records();
    EXPECT_EQ(runLocal({"dns"}).lines().size(), dns.size() + 1) << "a header and a row each";
    const json table = direct.data(13);
    std::multiset<std::string> inTable, listed;
    for (const char* key : {"host_file", "host_config", "record"}) {
        for (const auto& entry : table.at(key))
            inTable.insert(entry.at("domain").get<std::string>());
    }
    std::set<std::string> cached;
    for (const auto& entry : dns) {
        const bool dynamic = entry.at("type") == "Dynamic";
        listed.insert(entry.at("domain").get<std::string>());
        if (dynamic)
            cached.insert(entry.at("domain").get<std::string>());
        EXPECT_TRUE(entry.at("ips").is_array()) << entry;
        EXPECT_EQ(entry.at("ttl").is_number_integer(), dynamic) << entry;
    }
    EXPECT_EQ(listed, inTable);
    ASSERT_GE(cached.size(), 2u);
    const auto recent = runLocal({"recent", "--count", "200", "--json"}, tidy).records();
    const auto withBody = [&](const char* part, bool binary = false) {
        const auto found = std::ranges::find_if(recent, [&](const json& r) {
            return r.at(part) == true && (!binary || body(r.at("id"), false).find('\0') != std::string::npos);
        });
        EXPECT_NE(found, recent.end()) << "no recent tunnel has such a " << part;
        return found == recent.end() ? std::string("-1") : std::to_string(found->at("id").get<std::int64_t>());
    };
    const auto requestId = withBody("has_request_body"), responseId = withBody("has_response_body");
    const std::string request = body(std::stoll(requestId), true);
    const std::string response = body(std::stoll(responseId), false);
    ASSERT_FALSE(request.empty());
    const auto file = dir / "request.bin", copy = dir / "r.bin";

    const std::string first = std::to_string(tunnels.front()), second = std::to_string(tunnels.back());
    const std::string domain = *cached.begin();
    const auto missing = dir / "nobody" / "home.sock";
    const auto freePort = std::to_string(test::unusedTcpPort());
    // Accepts the connection (the kernel does, for a listening socket) but never greets.
    test::RawPeer silent(dir / "silent.sock");
    const test::EnvironmentChanges noDaemon{{"USBMUXD_SOCKET_ADDRESS", (dir / "no-daemon").string()}};
    struct Run {
        std::vector<std::string> arguments;
        int code;
        json printed; // on success the text or the JSON object, else what the error line names
        test::EnvironmentChanges env = {};
    };
    std::vector<Run> runs{
        {local({"close", first}), 0, "closed tunnel " + first + "\n"},
        {local({"--json", "close", second}), 0, {{"closed", tunnels.back()}}},
        {local({"record", "off"}), 0, "record: off\n"},
        {local({"mitm", "off", "--json"}), 0, {{"mitm", false}}},
        {local({"--json", "record", "on"}), 0, {{"record", true}}},
        {local({"dns-delete", domain}), 0, "deleted the cached DNS entry for " + domain + "\n"},
        {local({"dns-purge", "--json"}), 0, {{"cached_before", cached.size() - 1}, {"cached_after", 0}}},
        {local({"body", "request", requestId, "-o", file.string()}), 0,
         "wrote " + std::to_string(request.size()) + " bytes of the request body of tunnel " + requestId +
             " to " + file.string() + "\n"},
        {local({"body", "response", responseId}), 0, response},
        {local({"--json", "body", "response", responseId, "-o", copy.string()}), 0,
         {{"id", std::stoll(responseId)}, {"part", "response"}, {"bytes", response.size()},
          {"file", copy.string()}}},
        {local({"body", "request", "987654"}), 1, "987654"},
        {local({"close", "987654", "--json"}), 1, "no active tunnel 987654"},
        {local({"dns-delete", "never-resolved.example"}), 1, "never-resolved.example"},
        {{"--socket", missing.string(), "tunnels"}, 3, missing.string()},
        {{"--host", "127.0.0.1", "--port", freePort, "--password", "x", "tunnels"}, 3,
         "127.0.0.1:" + freePort},
        {{"--socket", silent.path().string(), "--timeout", "0.3", "tunnels"}, 5, "no answer"},
        {tcp({"--password", "guess", "tunnels"}), 4, "Wrong password"},
        {tcp({"dns"}), 4, "Wrong password", {{"VANTOR_PASSWORD", "guess"}}},
        // Logged in (the failure comes after): the password option wins over the environment.
        {tcp({"--password", kTcpPassword, "close", "987655"}), 1, "987655", {{"VANTOR_PASSWORD", "stale"}}},
        {tcp({"dns-delete", "never.example"}), 1, "never.example", {{"VANTOR_PASSWORD", kTcpPassword}}},
        // Where the two port ranges differ, each end is a port to try; one past it is a bad
        // argument. The ranges' own edges are the processor's cases.
        {{"--host", "127.0.0.1", "--port", "65535", "--password", "x", "tunnels"}, 3, "127.0.0.1:65535"},
        {{"--usb", "0", "--password", "x", "--timeout", "0.3", "tunnels"}, 3, "USB device port 0", noDaemon},
    };
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {}, {"frobnicate"}, {"close"}, {"close", "abc"}, {"close", "-4"}, {"record", "maybe"}, {"mitm"},
             {"body", "headers", "1"}, {"body", "request"}, {"dns-delete"}, {"recent", "--count", "many"},
             {"watch", "--interval", "0"}, {"--usb", "6170", "--host", "example.org", "tunnels"},
             {"--socket", "a.sock", "--host", "example.org", "tunnels"}, {"--timeout", "0", "tunnels"},
             {"--host", "127.0.0.1", "--port", "0", "tunnels"}, {"--usb", "-1", "tunnels"},
             {"--host", "127.0.0.1", "--port", "65536", "tunnels"}, {"--usb", "65535", "tunnels"}})
        runs.push_back({arguments, 2, "vantorctl: "});
    for (auto [arguments, code, printed, env] : runs) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        auto base = tidy;
        env.merge(base);
        const auto outcome = run(dir, arguments, env);
        EXPECT_EQ(outcome.code, code) << outcome;
        if (code != 0) {
            EXPECT_TRUE(outcome.out.empty()) << outcome;
            expectOneLineError(outcome, printed.get<std::string>());
        } else {
            EXPECT_TRUE(outcome.err.empty()) << outcome;
            const auto out =
                printed.is_string() ? json(outcome.out) : json::parse(outcome.out, nullptr, false);
            EXPECT_EQ(out, printed);
        }
    }
    EXPECT_EQ(test::readFile(file), request);
    EXPECT_EQ(ids(direct.tunnels(7)).size(), tunnels.size() - 2);
    EXPECT_EQ(received(18), 2u) << "an unknown tunnel is not sent for closing";
    EXPECT_EQ(direct.data(1)["record_traffic"], true);
    EXPECT_EQ(direct.data(1)["mitm_enable"], false);
    EXPECT_EQ(received(10), 2u);
    const auto after = runLocal({"dns", "--json"}).records();
    EXPECT_EQ(std::ranges::count(after, json("Dynamic"), [](const json& entry) { return entry["type"]; }), 0);
    EXPECT_EQ(after.size(), dns.size() - cached.size()) << "configured and system entries stay";

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    const auto binary = withBody("has_response_body", true);
    const auto onTerminal = finish(*start(dir, local({"body", "response", binary}), tidy,
                                          std::filesystem::path(ptsname(master))));
    close(master);
    EXPECT_EQ(onTerminal.code, 1) << onTerminal;
    expectOneLineError(onTerminal, "-o FILE");
    for (const auto& folder : {home, caches, temporary})
        EXPECT_TRUE(std::filesystem::is_empty(folder)) << folder;

    const auto help = run(dir, {"--help"});
    EXPECT_EQ(help.code, 0) << help;
    for (const char* text : {"Exit codes", "VANTOR_PASSWORD", "tunnels", "recent", "dns-delete", "body"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    EXPECT_NE(run(dir, {"body", "--help"}).out.find("--output"), std::string::npos);
}

// Over USB the run waits for the device.
TEST_F(VantorctlTest, UsbLogInWaitsForTheDevice)
{
    test::UsbmuxHarness mux(dir / "usbmuxd");
    mux.simulator.forwardPort(3, 6171, socket);
    const test::EnvironmentChanges env{{"USBMUXD_SOCKET_ADDRESS", (dir / "usbmuxd").string()}};
    const char* const password = contract::kLocalPassword;
    const auto noDevice =
        run(dir, {"--usb", "6170", "--password", password, "--timeout", "0.5", "tunnels"}, env);
    EXPECT_EQ(noDevice.code, 3) << noDevice;
    expectOneLineError(noDevice, "USB device port 6170");
    mux.simulator.attach(3);
    const auto outcome = run(dir, {"--usb", "6170", "--password", password, "tunnels", "--json"}, env);
    EXPECT_EQ(outcome.code, 0) << outcome;
    EXPECT_FALSE(outcome.records().empty()) << outcome;
}

// A service that also holds the gallery of coded, broken and hostile bodies.
class VantorctlGalleryTest : public VantorctlTest {
protected:
    VantorctlGalleryTest() : VantorctlTest(0ms, true) {}
};

// Every gallery body comes out of `body --decoded` as the server's original; a bomb stops at the
// cap and a gzip cut short stops where it ends, each written as far as it decoded and failing
// with one line.
TEST_F(VantorctlGalleryTest, DecodedBodiesAreTheOriginalsOrAFailureAfterWhatDecoded)
{
    std::vector<std::int64_t> galleryIds;
    for (const auto& record : runLocal({"recent", "--count", "1000", "--json"}).records()) {
        if (record.value("host", "") == sim::kGalleryHost)
            galleryIds.push_back(record.at("id").get<std::int64_t>());
    }
    std::ranges::sort(galleryIds);
    const auto& gallery = sim::bodyGallery();
    ASSERT_EQ(galleryIds.size(), gallery.size());
    const std::string& json = gallery.front().plain;

    for (std::size_t i = 0; i < gallery.size(); ++i) {
        const auto& [name, headerLines, wire, plain] = gallery[i];
        SCOPED_TRACE(name);
        const auto file = dir / (name + ".body");
        const auto outcome = runLocal({"body", "response", std::to_string(galleryIds[i]), "--decoded", "-o", file.string()});
        const std::string written = test::readFile(file);
        if (name == "gzip-bomb") {
            EXPECT_EQ(outcome.code, 1);
            expectOneLineError(outcome, "Stopped at 256 MiB");
            EXPECT_EQ(written.size(), 256u << 20);
            EXPECT_EQ(written.find_first_not_of('\0'), npos);
        } else if (name == "gzip-truncated") {
            EXPECT_EQ(outcome.code, 1);
            expectOneLineError(outcome, "The gzip data is cut short");
            EXPECT_FALSE(written.empty());
            EXPECT_TRUE(json.starts_with(written));
        } else {
            EXPECT_EQ(outcome.code, 0) << outcome;
            EXPECT_TRUE(written == plain) << written.size() << " bytes, expected " << plain.size();
        }
    }
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
    for (const auto& record : records) {
        EXPECT_TRUE(record.at("id").is_number_integer() && record.at("status").is_string() &&
                    record.at("time").is_number()) << record;
    }
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
    EXPECT_EQ(std::ranges::count_if(counted.lines(), [](const std::string& line) {
        return line.find("active tunnels at") != std::string::npos;
    }), 2);
    std::set<int> frames;
    for (const auto& record : runLocal({"watch", "--interval", "0.05", "--count", "2", "--json"}).records())
        frames.insert(record.at("frame").get<int>());
    EXPECT_EQ(frames, (std::set<int>{1, 2}));

    const auto temporary = dir / "tmp";
    std::filesystem::create_directory(temporary);
    for (const bool interrupted : {true, false}) {
        SCOPED_TRACE(interrupted ? "interrupted" : "service gone");
        const auto watch = start(dir, local({"watch", "--interval", "0.05"}), {{"TMPDIR", temporary}});
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

// Asked for a USB device, vantorctl tells the daemon who it is in its first message: the name and
// the version it prints.
TEST(VantorctlIdentityTest, NamesItselfToTheDaemonAsItPrints)
{
    test::TempDir dir;
    const auto version = run(dir, {"--version"});
    EXPECT_EQ(version.code, 0) << version;
    EXPECT_EQ(version.out, "vantorctl " VD_VERSION_TEXT "\n");
    test::FakeDaemon daemon(dir / "usbmuxd");
    const auto ctl = start(dir, {"--usb", "6170", "--password", "x", "tunnels"});
    std::optional<test::DaemonPacket> listen;
    daemon.acceptRequest(listen);
    ctl->stop();
    ASSERT_TRUE(listen);
    EXPECT_EQ(listen->message["MessageType"], "Listen");
    EXPECT_EQ(listen->message["ProgName"], "vantorctl");
    EXPECT_EQ(listen->message["ClientVersionString"], VD_VERSION_TEXT);
}

} // namespace
} // namespace vd
