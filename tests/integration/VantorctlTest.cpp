#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <asio/ip/tcp.hpp>
#include <gtest/gtest.h>

#include "SimHarness.h"
#include "UsbmuxSimulator.h"
#include "platform/Base64.h"
#include "support/RawPeer.h"
#include "support/Spawn.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using contract::Command;
using nlohmann::json;

constexpr const char* kTcpPassword = "tcp-secret";
// Generous for a sanitizer build; a run that takes this long has hung.
constexpr auto kRunLimit = 60s;

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What one run of vantorctl left behind.
struct Outcome {
    int code = -1;
    std::string out;
    std::string err;

    std::vector<std::string> lines() const { return splitLines(out); }
    std::vector<std::string> errorLines() const { return splitLines(err); }
    // Every line of stdout must be one JSON object.
    std::vector<json> records() const
    {
        std::vector<json> objects;
        for (const auto& line : lines()) {
            auto object = json::parse(line, nullptr, false);
            EXPECT_TRUE(object.is_object()) << "not a JSON object: " << line;
            objects.push_back(std::move(object));
        }
        return objects;
    }
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome)
{
    return out << "exit " << outcome.code << "\n--- stdout\n" << outcome.out << "--- stderr\n" << outcome.err;
}

// The installed vantorctl, started as a shell would start it, its output kept in files.
class Ctl {
public:
    // `env`: variables to set, or to remove when without a value. VANTOR_PASSWORD is never
    // inherited from the test's own environment.
    Ctl(const test::TempDir& dir, std::vector<std::string> arguments,
        const test::EnvironmentChanges& env = {},
        const std::optional<std::filesystem::path>& stdoutPath = std::nullopt)
    {
        static int runs = 0;
        const std::string name = "run" + std::to_string(++runs);
        outPath_ = stdoutPath.value_or(dir / (name + ".out"));
        errPath_ = dir / (name + ".err");

        arguments.insert(arguments.begin(), VANTORCTL_PATH);
        auto changes = env;
        changes.try_emplace("VANTOR_PASSWORD", std::nullopt);
        pid_ = test::spawnProgram(std::move(arguments), changes, outPath_, errPath_);
    }
    ~Ctl()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Ctl(const Ctl&) = delete;
    Ctl& operator=(const Ctl&) = delete;

    void signal(int number) const { kill(pid_, number); }

    // Waits until stdout so far satisfies `ready`.
    bool waitForOutput(const std::function<bool(const std::string&)>& ready, std::chrono::milliseconds limit = 20s) const
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (ready(readFile(outPath_)))
                return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    Outcome finish()
    {
        Outcome outcome;
        const auto deadline = std::chrono::steady_clock::now() + kRunLimit;
        int status = 0;
        while (pid_ > 0) {
            const pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                outcome.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "vantorctl did not end within " << kRunLimit.count() << " s";
                break;
            } else {
                std::this_thread::sleep_for(2ms);
            }
        }
        // A terminal is not read back: its output is the terminal's.
        if (std::filesystem::is_regular_file(outPath_))
            outcome.out = readFile(outPath_);
        outcome.err = readFile(errPath_);
        return outcome;
    }

private:
    pid_t pid_ = -1;
    std::filesystem::path outPath_;
    std::filesystem::path errPath_;
};

Outcome run(const test::TempDir& dir, std::vector<std::string> arguments,
            const std::map<std::string, std::optional<std::string>>& env = {})
{
    return Ctl(dir, std::move(arguments), env).finish();
}

// A plain client of the same service: what vantorctl prints is checked against the answers
// the service gives it directly.
class DirectClient {
public:
    explicit DirectClient(const std::filesystem::path& socket) : probe_(*manager_)
    {
        manager_->startWithSocketPath(socket.string());
        EXPECT_TRUE(probe_.waitFor([&] { return probe_.completions == 1; })) << "the direct client could not log in";
    }
    ~DirectClient() { manager_->stop(); }

    // The data of the next packet of command `cmd`, after sending what `send` sends.
    json ask(const std::function<void(QNComClientManager&)>& send, Command cmd)
    {
        std::size_t from = 0;
        {
            std::lock_guard lock(probe_.mutex);
            from = probe_.packets.size();
        }
        send(*manager_);
        json data;
        const bool answered = probe_.waitFor([&] {
            for (std::size_t i = from; i < probe_.packets.size(); ++i) {
                if (probe_.packets[i].cmd() == contract::numberOf(cmd)) {
                    data = json::parse(probe_.packets[i].dic().dump())["d"];
                    return true;
                }
            }
            return false;
        });
        EXPECT_TRUE(answered) << "no answer to command " << contract::numberOf(cmd);
        return data;
    }

    std::vector<json> activeTunnels() { return tunnelsIn(ask([](auto& m) { m.requestCurrentTunnels(); }, Command::currentTunnels)); }
    std::vector<json> recentTunnels(std::int64_t count)
    {
        return tunnelsIn(ask([&](auto& m) { m.requestHistoryTunnelLastCount(count); }, Command::historyTunnels));
    }
    json dnsTable() { return ask([](auto& m) { m.requestDNSRecords(); }, Command::dnsRecords); }
    std::string body(std::int64_t id, bool request)
    {
        const json data = ask([&](auto& m) { request ? m.getTunnelRequestData(id) : m.getTunnelResponseData(id); },
                              request ? Command::tunnelRequestData : Command::tunnelResponseData);
        const auto bytes = base64::decodeStrict(data.value("data", std::string()));
        EXPECT_TRUE(bytes) << "the service's body is not Base64";
        return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
    }

private:
    static std::vector<json> tunnelsIn(const json& data)
    {
        std::vector<json> tunnels;
        for (const auto& text : data.value("tunnels", json::array()))
            tunnels.push_back(json::parse(text.get<std::string>()));
        return tunnels;
    }

    std::shared_ptr<QNComClientManager> manager_ = QNComClientManager::create();
    test::ManagerProbe probe_;
};

std::vector<std::int64_t> idsOf(const std::vector<json>& records)
{
    std::vector<std::int64_t> ids;
    for (const auto& record : records)
        ids.push_back(record.at("id").get<std::int64_t>());
    return ids;
}

std::vector<std::int64_t> sorted(std::vector<std::int64_t> ids)
{
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

std::size_t cachedCount(const std::vector<json>& entries)
{
    return static_cast<std::size_t>(
        std::count_if(entries.begin(), entries.end(), [](const json& entry) { return entry.at("type") == "Dynamic"; }));
}

std::size_t countReceived(test::SimHarness& sim, Command cmd)
{
    const auto received = sim.received();
    return static_cast<std::size_t>(std::count_if(received.begin(), received.end(), [&](const json& packet) {
        return packet.value("t", std::uint64_t{0}) == contract::numberOf(cmd);
    }));
}

// One line on stderr that starts with the program's name: what a person sees and a script logs.
void expectOneLineError(const Outcome& outcome, const std::string& mentioning)
{
    const auto lines = outcome.errorLines();
    ASSERT_EQ(lines.size(), 1u) << outcome;
    EXPECT_EQ(lines[0].rfind("vantorctl: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(mentioning), std::string::npos) << lines[0];
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

// A service whose time stands still, so vantorctl's answers and the direct ones must agree.
class VantorctlTest : public ::testing::Test {
protected:
    explicit VantorctlTest(std::chrono::milliseconds tick = 0ms) : sim(simulatorOptions(dir, tick)) {}

    std::vector<std::string> local(std::vector<std::string> arguments) const
    {
        arguments.insert(arguments.begin(), {"--socket", socket.string()});
        return arguments;
    }
    Outcome runLocal(std::vector<std::string> arguments,
                     const std::map<std::string, std::optional<std::string>>& env = {}) const
    {
        return run(dir, local(std::move(arguments)), env);
    }
    std::vector<std::string> tcp(std::vector<std::string> arguments) const
    {
        arguments.insert(arguments.begin(), {"--host", "127.0.0.1", "--port", std::to_string(sim.tcpPort())});
        return arguments;
    }

    test::TempDir dir;
    std::filesystem::path socket = dir / "svc.sock";
    test::SimHarness sim;
};

// --- lists ---------------------------------------------------------------------------------

TEST_F(VantorctlTest, TunnelsTableHasOneAlignedRowPerActiveTunnel)
{
    const auto outcome = runLocal({"tunnels"});
    ASSERT_EQ(outcome.code, 0) << outcome;
    EXPECT_TRUE(outcome.err.empty()) << outcome;
    const auto lines = outcome.lines();
    ASSERT_GE(lines.size(), 2u) << outcome;
    const std::string& header = lines[0];

    std::vector<std::int64_t> ids;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& row = lines[i];
        ids.push_back(std::stoll(row));
        // Left-aligned columns start where their title starts, after the two-space gap;
        // right-aligned ones end where their title ends.
        for (const char* title : {"START", "PROCESS", "METHOD", "SERVER", "POLICY"}) {
            const auto at = header.find(title);
            ASSERT_LT(at, row.size()) << title << " in\n" << header << "\n" << row;
            EXPECT_EQ(row.substr(at - 2, 2), "  ") << title << " in\n" << header << "\n" << row;
            EXPECT_NE(row[at], ' ') << title << " in\n" << header << "\n" << row;
        }
        for (const std::string title : {"ID", "CODE", "UP", "DOWN", "UP/S", "DOWN/S", "DURATION"}) {
            // The first "UP" and "DOWN" are the byte counts, the speeds come after them.
            const auto last = header.find(title) + title.size() - 1;
            ASSERT_LT(last + 1, row.size()) << title;
            EXPECT_NE(row[last], ' ') << title << " in\n" << header << "\n" << row;
            EXPECT_EQ(row[last + 1], ' ') << title << " in\n" << header << "\n" << row;
        }
    }
    DirectClient direct(socket);
    EXPECT_EQ(ids, sorted(idsOf(direct.activeTunnels())));
}

TEST_F(VantorctlTest, TunnelsAsJsonCarryTheServicesNumbers)
{
    const auto outcome = runLocal({"tunnels", "--json"});
    ASSERT_EQ(outcome.code, 0) << outcome;
    const auto records = outcome.records();
    DirectClient direct(socket);
    const auto truth = direct.activeTunnels();
    ASSERT_EQ(records.size(), truth.size());
    const double startTime = direct.ask([](auto& m) { m.requestInfo(); }, Command::info).at("service_start_time").get<double>();

    std::map<std::int64_t, json> byId;
    for (const auto& tunnel : truth)
        byId[tunnel.at("id").get<std::int64_t>()] = tunnel;
    for (const auto& record : records) {
        SCOPED_TRACE(record.dump());
        ASSERT_TRUE(record.at("id").is_number_integer());
        const json& tunnel = byId.at(record.at("id").get<std::int64_t>());
        EXPECT_EQ(record.at("rx"), tunnel.at("rx"));
        EXPECT_EQ(record.at("tx"), tunnel.at("tx"));
        EXPECT_EQ(record.at("rx_speed"), tunnel.at("rx_speed"));
        EXPECT_EQ(record.at("host"), tunnel.at("host"));
        EXPECT_EQ(record.at("port"), tunnel.at("port"));
        EXPECT_EQ(record.at("process"), tunnel.at("processName"));
        EXPECT_EQ(record.at("pid"), tunnel.at("processIdentifier"));
        EXPECT_EQ(record.at("policy"), tunnel.at("policyName"));
        EXPECT_EQ(record.at("status"), "Active");
        EXPECT_NEAR(record.at("start").get<double>(), startTime + tunnel.at("t_start").get<double>(), 0.001);
        EXPECT_GE(record.at("duration").get<double>(), 0);
    }
}

TEST_F(VantorctlTest, RecentGivesTheNewestRecordsOldestFirst)
{
    const auto outcome = runLocal({"recent", "--count", "5", "--json"});
    ASSERT_EQ(outcome.code, 0) << outcome;
    const auto records = outcome.records();
    DirectClient direct(socket);
    const auto truth = direct.recentTunnels(5);
    ASSERT_EQ(truth.size(), 5u) << "the simulator's warm-up leaves recent records";
    EXPECT_EQ(idsOf(records), sorted(idsOf(truth)));
    for (const auto& record : records) {
        EXPECT_NE(record.at("status"), "Active") << record;
        EXPECT_TRUE(record.contains("close_reason")) << record;
    }

    const auto table = runLocal({"recent", "--count", "5"});
    ASSERT_EQ(table.code, 0) << table;
    ASSERT_EQ(table.lines().size(), 6u) << table;
    EXPECT_NE(table.lines()[0].find("STATUS"), std::string::npos) << table;
}

TEST_F(VantorctlTest, RecentWithNothingToShowEndsAtOnce)
{
    // An empty answer posts no refresh: the command must not wait for one.
    const auto asJson = runLocal({"--timeout", "5", "recent", "--count", "0", "--json"});
    EXPECT_EQ(asJson.code, 0) << asJson;
    EXPECT_TRUE(asJson.out.empty()) << asJson;
    const auto table = runLocal({"--timeout", "5", "recent", "--count", "0"});
    EXPECT_EQ(table.code, 0) << table;
    EXPECT_EQ(table.lines().size(), 1u) << "the header alone\n" << table;
}

TEST_F(VantorctlTest, DnsListsEveryEntryOfTheTable)
{
    const auto outcome = runLocal({"dns", "--json"});
    ASSERT_EQ(outcome.code, 0) << outcome;
    const auto records = outcome.records();
    DirectClient direct(socket);
    const json table = direct.dnsTable();
    std::multiset<std::string> expected;
    for (const char* key : {"host_file", "host_config", "record"}) {
        for (const auto& entry : table.at(key))
            expected.insert(entry.at("domain").get<std::string>());
    }
    std::multiset<std::string> listed;
    for (const auto& record : records) {
        listed.insert(record.at("domain").get<std::string>());
        EXPECT_TRUE(record.at("ips").is_array()) << record;
        if (record.at("type") == "Dynamic")
            EXPECT_TRUE(record.at("ttl").is_number_integer()) << record;
        else
            EXPECT_TRUE(record.at("ttl").is_null()) << record;
    }
    EXPECT_EQ(listed, expected);
    EXPECT_FALSE(cachedDomains(records).empty()) << "the warm-up fills the cache";

    const auto text = runLocal({"dns"});
    ASSERT_EQ(text.code, 0) << text;
    EXPECT_EQ(text.lines().size(), records.size() + 1) << text;
    EXPECT_EQ(text.lines()[0].rfind("TYPE", 0), 0u) << text;
}

// --- changes -------------------------------------------------------------------------------

TEST_F(VantorctlTest, CloseEndsTheTunnelAndRefusesAnUnknownOne)
{
    DirectClient direct(socket);
    const auto before = direct.activeTunnels();
    ASSERT_FALSE(before.empty());
    const auto id = before.front().at("id").get<std::int64_t>();

    const auto outcome = runLocal({"close", std::to_string(id)});
    ASSERT_EQ(outcome.code, 0) << outcome;
    EXPECT_EQ(outcome.out, "closed tunnel " + std::to_string(id) + "\n");
    const auto after = idsOf(direct.activeTunnels());
    EXPECT_EQ(std::count(after.begin(), after.end(), id), 0);
    EXPECT_EQ(after.size(), before.size() - 1);

    const auto again = runLocal({"close", std::to_string(id), "--json"});
    EXPECT_EQ(again.code, 1) << again;
    EXPECT_TRUE(again.out.empty()) << again;
    expectOneLineError(again, "no active tunnel " + std::to_string(id));
    EXPECT_EQ(countReceived(sim, Command::closeTunnel), 1u) << "an unknown tunnel is not sent for closing";
}

TEST_F(VantorctlTest, CloseAsJsonNamesTheTunnel)
{
    DirectClient direct(socket);
    const auto id = direct.activeTunnels().back().at("id").get<std::int64_t>();
    const auto outcome = runLocal({"--json", "close", std::to_string(id)});
    ASSERT_EQ(outcome.code, 0) << outcome;
    ASSERT_EQ(outcome.records().size(), 1u);
    EXPECT_EQ(outcome.records()[0], json({{"closed", id}}));
}

TEST_F(VantorctlTest, SwitchesReportTheStateTheServiceConfirmed)
{
    const auto off = runLocal({"record", "off"});
    ASSERT_EQ(off.code, 0) << off;
    EXPECT_EQ(off.out, "record: off\n");
    const auto mitm = runLocal({"mitm", "off", "--json"});
    ASSERT_EQ(mitm.code, 0) << mitm;
    EXPECT_EQ(mitm.records(), std::vector<json>{json({{"mitm", false}})});
    {
        DirectClient direct(socket);
        const json info = direct.ask([](auto& m) { m.requestInfo(); }, Command::info);
        EXPECT_EQ(info.at("record_traffic"), false);
        EXPECT_EQ(info.at("mitm_enable"), false);
    }
    const auto on = runLocal({"--json", "record", "on"});
    ASSERT_EQ(on.code, 0) << on;
    EXPECT_EQ(on.records(), std::vector<json>{json({{"record", true}})});
    DirectClient direct(socket);
    EXPECT_EQ(direct.ask([](auto& m) { m.requestInfo(); }, Command::info).at("record_traffic"), true);

    std::vector<bool> recordSwitches;
    for (const auto& packet : sim.received()) {
        if (packet.value("t", 0) == 10)
            recordSwitches.push_back(packet.at("d").at("switch").get<bool>());
    }
    EXPECT_EQ(recordSwitches, (std::vector<bool>{false, true}));
}

TEST_F(VantorctlTest, DnsDeleteDropsOnlyThatEntry)
{
    const auto before = runLocal({"dns", "--json"}).records();
    const auto cached = cachedDomains(before);
    ASSERT_GE(cached.size(), 2u);
    const std::string domain = *cached.begin();

    const auto outcome = runLocal({"dns-delete", domain});
    ASSERT_EQ(outcome.code, 0) << outcome;
    EXPECT_EQ(outcome.out, "deleted the cached DNS entry for " + domain + "\n");
    auto expected = cached;
    expected.erase(domain);
    EXPECT_EQ(cachedDomains(runLocal({"dns", "--json"}).records()), expected);

    const auto again = runLocal({"dns-delete", domain});
    EXPECT_EQ(again.code, 1) << again;
    expectOneLineError(again, domain);
}

TEST_F(VantorctlTest, DnsPurgeEmptiesTheCacheAndKeepsTheRest)
{
    const auto before = runLocal({"dns", "--json"}).records();
    const auto outcome = runLocal({"dns-purge", "--json"});
    ASSERT_EQ(outcome.code, 0) << outcome;
    ASSERT_EQ(outcome.records().size(), 1u) << outcome;
    EXPECT_EQ(outcome.records()[0].at("cached_before"), cachedCount(before));
    EXPECT_EQ(outcome.records()[0].at("cached_after"), 0);

    const auto after = runLocal({"dns", "--json"}).records();
    EXPECT_TRUE(cachedDomains(after).empty());
    EXPECT_EQ(after.size(), before.size() - cachedCount(before)) << "configured and system entries stay";
}

// --- bodies --------------------------------------------------------------------------------

class VantorctlBodyTest : public VantorctlTest {
protected:
    // The first recent tunnel with a captured body of that part.
    std::int64_t tunnelWithBody(bool request)
    {
        const auto recent = runLocal({"recent", "--count", "200", "--json"}).records();
        for (const auto& record : recent) {
            if (record.at(request ? "has_request_body" : "has_response_body") == true)
                return record.at("id").get<std::int64_t>();
        }
        ADD_FAILURE() << "no recent tunnel has a " << (request ? "request" : "response") << " body";
        return -1;
    }
};

TEST_F(VantorctlBodyTest, RequestBodyIsWrittenToTheFileByteForByte)
{
    const auto id = tunnelWithBody(true);
    const auto file = dir / "request.bin";
    const auto outcome = runLocal({"body", "request", std::to_string(id), "-o", file.string()});
    ASSERT_EQ(outcome.code, 0) << outcome;
    DirectClient direct(socket);
    const std::string expected = direct.body(id, true);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(readFile(file), expected);
    EXPECT_NE(outcome.out.find(std::to_string(expected.size()) + " bytes"), std::string::npos) << outcome;
}

TEST_F(VantorctlBodyTest, ResponseBodyGoesToStdoutUnchanged)
{
    DirectClient direct(socket);
    const auto id = tunnelWithBody(false);
    const auto outcome = runLocal({"body", "response", std::to_string(id)});
    ASSERT_EQ(outcome.code, 0) << outcome;
    EXPECT_EQ(outcome.out, direct.body(id, false));
    EXPECT_TRUE(outcome.err.empty()) << outcome;

    const auto file = dir / "response.bin";
    const auto asJson = runLocal({"--json", "body", "response", std::to_string(id), "-o", file.string()});
    ASSERT_EQ(asJson.code, 0) << asJson;
    ASSERT_EQ(asJson.records().size(), 1u) << asJson;
    EXPECT_EQ(asJson.records()[0].at("bytes"), readFile(file).size());
    EXPECT_EQ(readFile(file), outcome.out);
    EXPECT_EQ(asJson.records()[0].at("part"), "response");
}

TEST_F(VantorctlBodyTest, UnknownTunnelHasNoBody)
{
    const auto outcome = runLocal({"body", "request", "987654"});
    EXPECT_EQ(outcome.code, 1) << outcome;
    EXPECT_TRUE(outcome.out.empty()) << outcome;
    expectOneLineError(outcome, "987654");
}

TEST_F(VantorctlBodyTest, BinaryBodyIsNotPouredOntoATerminal)
{
    DirectClient direct(socket);
    std::int64_t binary = -1;
    for (const auto& record : runLocal({"recent", "--count", "200", "--json"}).records()) {
        if (record.at("has_response_body") != true)
            continue;
        const auto id = record.at("id").get<std::int64_t>();
        if (direct.body(id, false).find('\0') != std::string::npos) {
            binary = id;
            break;
        }
    }
    ASSERT_GE(binary, 0) << "no recent tunnel has a binary response body";

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string terminal = ptsname(master);
    const auto outcome = Ctl(dir, local({"body", "response", std::to_string(binary)}), {}, terminal).finish();
    close(master);
    EXPECT_EQ(outcome.code, 1) << outcome;
    expectOneLineError(outcome, "-o FILE");
}

TEST_F(VantorctlBodyTest, LeavesNoFilesBehindOutsideItsOwnFolder)
{
    // The dump store and the icon store would write into the user's caches; vantorctl keeps
    // them in a private folder under TMPDIR and removes it on exit.
    const auto home = dir / "home";
    const auto caches = dir / "caches";
    const auto temporary = dir / "tmp";
    for (const auto& folder : {home, caches, temporary})
        std::filesystem::create_directory(folder);
    const std::map<std::string, std::optional<std::string>> env{
        {"HOME", home.string()}, {"XDG_CACHE_HOME", caches.string()}, {"TMPDIR", temporary.string()}};

    const auto id = tunnelWithBody(false);
    const auto body = runLocal({"body", "response", std::to_string(id), "-o", (dir / "body.bin").string()}, env);
    ASSERT_EQ(body.code, 0) << body;
    const auto tunnels = runLocal({"tunnels"}, env);
    ASSERT_EQ(tunnels.code, 0) << tunnels;
    for (const auto& folder : {home, caches, temporary})
        EXPECT_TRUE(std::filesystem::is_empty(folder)) << folder;
}

// --- live commands -------------------------------------------------------------------------

// A service whose time runs fast, so UDP records and changing lists come within milliseconds.
class VantorctlLiveTest : public VantorctlTest {
protected:
    VantorctlLiveTest() : VantorctlTest(5ms) {}
};

TEST_F(VantorctlLiveTest, UdpWatchPrintsEachRecordAsItArrives)
{
    const auto outcome = runLocal({"udp", "--watch", "--count", "3", "--json"});
    ASSERT_EQ(outcome.code, 0) << outcome;
    const auto records = outcome.records();
    ASSERT_EQ(records.size(), 3u) << outcome;
    for (const auto& record : records) {
        EXPECT_TRUE(record.at("id").is_number_integer()) << record;
        EXPECT_TRUE(record.at("status").is_string()) << record;
        EXPECT_TRUE(record.at("time").is_number()) << record;
    }
    bool switchedOn = false;
    for (const auto& packet : sim.received())
        switchedOn |= packet.value("t", 0) == 22 && packet.at("d").at("switch") == true;
    EXPECT_TRUE(switchedOn) << "the UDP push was never asked for";

    const auto table = runLocal({"udp", "--watch", "--count", "2"});
    ASSERT_EQ(table.code, 0) << table;
    ASSERT_EQ(table.lines().size(), 3u) << table;
    EXPECT_NE(table.lines()[0].find("STATUS"), std::string::npos) << table;
}

TEST_F(VantorctlLiveTest, UdpWithoutWatchPrintsOneTableAfterItsTime)
{
    const auto outcome = runLocal({"udp", "--seconds", "0.3"});
    ASSERT_EQ(outcome.code, 0) << outcome;
    const auto lines = outcome.lines();
    ASSERT_GE(lines.size(), 2u) << "records arrive within 0.3 s at this pace\n" << outcome;
    EXPECT_EQ(lines[0].find("ID"), lines[0].find_first_not_of(' ')) << outcome;
}

TEST_F(VantorctlLiveTest, WatchRedrawsTheListUntilItsCount)
{
    const auto outcome = runLocal({"watch", "--interval", "0.05", "--count", "3"});
    ASSERT_EQ(outcome.code, 0) << outcome;
    EXPECT_EQ(outcome.out.find('\x1b'), std::string::npos) << "no terminal codes into a file";
    std::size_t frames = 0;
    for (const auto& line : outcome.lines())
        frames += line.find("active tunnels at") != std::string::npos;
    EXPECT_EQ(frames, 3u) << outcome;

    const auto asJson = runLocal({"watch", "--interval", "0.05", "--count", "2", "--json"});
    ASSERT_EQ(asJson.code, 0) << asJson;
    std::set<int> seen;
    for (const auto& record : asJson.records())
        seen.insert(record.at("frame").get<int>());
    EXPECT_EQ(seen, (std::set<int>{1, 2}));
}

TEST_F(VantorctlLiveTest, WatchEndsCleanlyWhenInterrupted)
{
    const auto temporary = dir / "tmp";
    std::filesystem::create_directory(temporary);
    Ctl watch(dir, local({"watch", "--interval", "0.05"}), {{"TMPDIR", temporary.string()}});
    ASSERT_TRUE(watch.waitForOutput([](const std::string& out) { return out.find("active tunnels at") != std::string::npos; }));
    watch.signal(SIGINT);
    const auto outcome = watch.finish();
    EXPECT_EQ(outcome.code, 0) << outcome;
    EXPECT_TRUE(outcome.err.empty()) << outcome;
    EXPECT_TRUE(std::filesystem::is_empty(temporary)) << "its private folder is removed";
}

TEST_F(VantorctlLiveTest, LostServiceEndsWatchWithTheConnectionCode)
{
    Ctl watch(dir, local({"watch", "--interval", "0.05"}));
    ASSERT_TRUE(watch.waitForOutput([](const std::string& out) { return out.find("active tunnels at") != std::string::npos; }));
    sim.closeAllConnections();
    const auto outcome = watch.finish();
    EXPECT_EQ(outcome.code, 3) << outcome;
    expectOneLineError(outcome, "lost the connection");
}

// --- connecting ----------------------------------------------------------------------------

TEST_F(VantorctlTest, TcpLoginTakesThePasswordFromOptionOrEnvironment)
{
    const auto byOption = run(dir, tcp({"--password", kTcpPassword, "tunnels", "--json"}));
    ASSERT_EQ(byOption.code, 0) << byOption;
    DirectClient direct(socket);
    EXPECT_EQ(sorted(idsOf(byOption.records())), sorted(idsOf(direct.activeTunnels())));

    const auto byEnvironment = run(dir, tcp({"tunnels"}), {{"VANTOR_PASSWORD", kTcpPassword}});
    EXPECT_EQ(byEnvironment.code, 0) << byEnvironment;
    const auto optionFirst = run(dir, tcp({"--password", kTcpPassword, "tunnels"}), {{"VANTOR_PASSWORD", "stale"}});
    EXPECT_EQ(optionFirst.code, 0) << optionFirst;
}

TEST_F(VantorctlTest, WrongPasswordIsAnAuthenticationFailure)
{
    const auto byOption = run(dir, tcp({"--password", "guess", "tunnels"}));
    EXPECT_EQ(byOption.code, 4) << byOption;
    EXPECT_TRUE(byOption.out.empty()) << byOption;
    expectOneLineError(byOption, "Wrong password");

    const auto byEnvironment = run(dir, tcp({"dns"}), {{"VANTOR_PASSWORD", "guess"}});
    EXPECT_EQ(byEnvironment.code, 4) << byEnvironment;
    expectOneLineError(byEnvironment, "Wrong password");
}

TEST_F(VantorctlTest, UnreachableServiceIsAConnectionFailure)
{
    const auto missing = dir / "nobody" / "home.sock";
    const auto noSocket = run(dir, {"--socket", missing.string(), "tunnels"});
    EXPECT_EQ(noSocket.code, 3) << noSocket;
    expectOneLineError(noSocket, missing.string());

    // A port that was free a moment ago: nobody listens there.
    asio::io_context context;
    asio::ip::tcp::acceptor probe(context, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    const auto port = probe.local_endpoint().port();
    probe.close();
    const auto refused = run(dir, {"--host", "127.0.0.1", "--port", std::to_string(port), "--password", "x", "tunnels"});
    EXPECT_EQ(refused.code, 3) << refused;
    expectOneLineError(refused, "127.0.0.1:" + std::to_string(port));
}

TEST_F(VantorctlTest, SilentServiceRunsOutOfTime)
{
    // Accepts the connection (the kernel does, for a listening socket) but never greets.
    test::RawPeer silent(dir / "silent.sock");
    const auto outcome = run(dir, {"--socket", silent.path().string(), "--timeout", "0.3", "tunnels"});
    EXPECT_EQ(outcome.code, 5) << outcome;
    expectOneLineError(outcome, "no answer");
}

TEST_F(VantorctlTest, UsbReachesTheServiceThroughTheDeviceAndWaitsForOne)
{
    asio::io_context context;
    auto work = asio::make_work_guard(context);
    sim::UsbmuxSimulator mux(context, dir / "usbmuxd");
    ASSERT_FALSE(mux.start());
    mux.forwardPort(3, 6171, socket);
    std::thread muxThread([&] { context.run(); });
    const std::map<std::string, std::optional<std::string>> env{{"USBMUXD_SOCKET_ADDRESS", (dir / "usbmuxd").string()}};

    const auto noDevice = run(dir, {"--usb", "6170", "--password", contract::kLocalPassword, "--timeout", "0.5", "tunnels"}, env);
    EXPECT_EQ(noDevice.code, 3) << noDevice;
    expectOneLineError(noDevice, "USB device port 6170");

    mux.attach(3);
    const auto outcome = run(dir, {"--usb", "6170", "--password", contract::kLocalPassword, "tunnels", "--json"}, env);
    EXPECT_EQ(outcome.code, 0) << outcome;
    EXPECT_FALSE(outcome.records().empty()) << outcome;

    asio::post(context, [&] { mux.stop(); });
    work.reset();
    muxThread.join();
}

// --- arguments -----------------------------------------------------------------------------

TEST(VantorctlArguments, BadArgumentsEndWithTwoBeforeConnecting)
{
    test::TempDir dir;
    const std::vector<std::vector<std::string>> cases{
        {},
        {"frobnicate"},
        {"close"},
        {"close", "abc"},
        {"close", "-4"},
        {"record", "maybe"},
        {"mitm"},
        {"body", "headers", "1"},
        {"body", "request"},
        {"dns-delete"},
        {"recent", "--count", "many"},
        {"watch", "--interval", "0"},
        {"--port", "70000", "tunnels"},
        {"--usb", "65535", "tunnels"},
        {"--usb", "6170", "--host", "example.org", "tunnels"},
        {"--socket", "a.sock", "--host", "example.org", "tunnels"},
        {"--timeout", "0", "tunnels"},
    };
    for (const auto& arguments : cases) {
        std::string shown;
        for (const auto& argument : arguments)
            shown += argument + " ";
        SCOPED_TRACE(shown);
        // No service runs here: had it tried to connect, the code would be 3.
        const auto outcome = run(dir, arguments, {{"HOME", dir.path().string()}});
        EXPECT_EQ(outcome.code, 2) << outcome;
        EXPECT_TRUE(outcome.out.empty()) << outcome;
        expectOneLineError(outcome, "vantorctl");
    }
}

TEST(VantorctlArguments, HelpDocumentsTheExitCodesAndThePasswordVariable)
{
    test::TempDir dir;
    const auto outcome = run(dir, {"--help"});
    EXPECT_EQ(outcome.code, 0) << outcome;
    for (const char* text : {"Exit codes", "VANTOR_PASSWORD", "tunnels", "recent", "dns-delete", "body"})
        EXPECT_NE(outcome.out.find(text), std::string::npos) << text;
    const auto body = run(dir, {"body", "--help"});
    EXPECT_EQ(body.code, 0) << body;
    EXPECT_NE(body.out.find("--output"), std::string::npos) << body;
}

} // namespace
} // namespace vd
