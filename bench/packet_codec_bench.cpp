// Throughput of the link's packet codec next to two baselines, measured in the same run:
//  - "bare_limit": strict Base64 decoding plus a simdjson parse that builds nothing. The
//    packet decoder cannot beat this, so it shows how much the conversion into a usable
//    dictionary costs on top.
//  - "toolkit": QByteArray::fromBase64 + QJsonDocument, what the dashboard would do without
//    its own codec.
// The inputs imitate the heaviest thing the service sends: a report whose "d" carries a list
// of tunnel records, each a JSON text in a string, so every quote in a captured HTTP header
// is escaped twice. After the benchmarks a table of ratios is printed; a ratio only means
// something between figures of one run, on one machine, under one load.

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <unistd.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <simdjson.h>

#include "link/QNComPacket.h"
#include "platform/Base64.h"

namespace {

using Dictionary = vd::QNComPacket::Dictionary;

// ---------------------------------------------------------------------------------------------
// Inputs. A hand-rolled generator rather than <random>'s distributions, whose output differs
// between standard libraries: the same seed must give the same bytes everywhere, so figures
// from two machines describe the same packets.

class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Modulo bias is irrelevant for test data.
    std::uint64_t below(std::uint64_t bound) { return next() % bound; }
    std::int64_t between(std::int64_t low, std::int64_t high)
    {
        return low + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(high - low + 1)));
    }
    bool chance(unsigned percent) { return below(100) < percent; }
    template <typename T, std::size_t N>
    const T& pick(const std::array<T, N>& items)
    {
        return items[below(N)];
    }

private:
    std::uint64_t state_;
};

constexpr std::uint64_t kSeed = 0x5641'4E54'4F52ull;

std::string hex(SplitMix64& rng, std::size_t length)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(length, '0');
    for (auto& c : out)
        c = kDigits[rng.below(16)];
    return out;
}

std::string token(SplitMix64& rng, std::size_t length)
{
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out(length, 'A');
    for (auto& c : out)
        c = kChars[rng.below(64)];
    return out;
}

std::string uuid(SplitMix64& rng)
{
    return hex(rng, 8) + '-' + hex(rng, 4) + '-' + hex(rng, 4) + '-' + hex(rng, 4) + '-' + hex(rng, 12);
}

std::string ipv4(SplitMix64& rng, bool local)
{
    if (local)
        return "192.168." + std::to_string(rng.between(0, 3)) + '.' + std::to_string(rng.between(2, 254));
    return std::to_string(rng.between(1, 223)) + '.' + std::to_string(rng.below(256)) + '.' + std::to_string(rng.below(256)) + '.'
        + std::to_string(rng.between(1, 254));
}

std::string httpDate(SplitMix64& rng)
{
    static constexpr std::array<const char*, 7> kDays{"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s, %02d Apr 2024 %02d:%02d:%02d GMT", rng.pick(kDays), static_cast<int>(rng.between(1, 30)),
                  static_cast<int>(rng.below(24)), static_cast<int>(rng.below(60)), static_cast<int>(rng.below(60)));
    return buffer;
}

constexpr std::array<const char*, 16> kHosts{
    "api.github.com", "www.google.com", "fonts.gstatic.com", "update.googleapis.com",
    "slack.com", "edge-chat.facebook.com", "www.apple.com", "gateway.icloud.com",
    "cdn.jsdelivr.net", "s3.eu-west-1.amazonaws.com", "telemetry.example-shop.io", "login.microsoftonline.com",
    "static.zdassets.com", "pbs.twimg.com", "api.segment.io", "registry.npmjs.org",
};
constexpr std::array<const char*, 8> kProcesses{
    "Safari", "Google Chrome Helper", "Slack Helper (Renderer)", "curl",
    "nsurlsessiond", "Mail", "Code Helper (Plugin)", "node",
};
constexpr std::array<const char*, 8> kResources{
    "repos", "users", "events", "items", "cart", "sessions", "reports", "assets",
};
constexpr std::array<const char*, 5> kUserAgents{
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.4 Safari/605.1.15",
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/124.0.0.0 Safari/537.36",
    "curl/8.4.0",
    "Slack/4.38.121 (darwin; arm64) Electron/29.4.0",
    "node-fetch/1.0 (+https://github.com/bitinn/node-fetch)",
};
constexpr std::array<const char*, 5> kStatus{
    "200 OK", "204 No Content", "304 Not Modified", "301 Moved Permanently", "404 Not Found",
};

std::string requestHeader(SplitMix64& rng, const std::string& method, const std::string& host, const std::string& path, bool brief)
{
    std::string h = method + ' ' + path + " HTTP/1.1\r\nHost: " + host + "\r\n";
    if (brief)
        return h + "User-Agent: curl/8.4.0\r\n\r\n";
    h += std::string("User-Agent: ") + rng.pick(kUserAgents) + "\r\n";
    h += "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n";
    h += "Accept-Language: en-GB,en;q=0.9,de;q=0.7\r\nAccept-Encoding: gzip, deflate, br\r\n";
    if (rng.chance(50)) {
        h += "sec-ch-ua: \"Chromium\";v=\"124\", \"Google Chrome\";v=\"124\", \"Not-A.Brand\";v=\"99\"\r\n"
             "sec-ch-ua-mobile: ?0\r\nsec-ch-ua-platform: \"macOS\"\r\n";
    }
    if (rng.chance(40))
        h += "If-None-Match: W/\"" + hex(rng, 32) + "\"\r\n";
    h += "Cookie: _ga=GA1.2." + std::to_string(rng.between(100000000, 999999999)) + "; session=\"" + token(rng, 24)
        + "\"; theme=\"dark\"; consent=\"analytics=0|ads=0\"\r\n";
    if (rng.chance(25))
        h += "Authorization: Bearer " + token(rng, 64) + "\r\n";
    if (method == "POST" || method == "PUT") {
        h += "Content-Type: application/json; charset=\"utf-8\"\r\nContent-Length: " + std::to_string(rng.between(20, 40000)) + "\r\n";
        h += "Prefer: return=\"minimal\"\r\n";
    }
    h += "Referer: https://" + host + "/" + token(rng, 12) + "\r\n";
    h += "X-Request-Id: " + uuid(rng) + "\r\nConnection: keep-alive\r\n\r\n";
    return h;
}

std::string responseHeader(SplitMix64& rng, const std::string& status, const std::string& host, std::int64_t length, bool brief)
{
    std::string h = "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(length) + "\r\nETag: \"" + hex(rng, brief ? 16 : 40) + "\"\r\n";
    if (brief)
        return h + "\r\n";
    h += "Date: " + httpDate(rng) + "\r\nContent-Type: application/json; charset=utf-8\r\n";
    h += "Cache-Control: private, max-age=0, must-revalidate\r\n";
    h += "Set-Cookie: __cf_bm=" + token(rng, 43) + "; path=/; domain=." + host
        + "; HttpOnly; Secure; SameSite=None\r\n";
    h += "Alt-Svc: h3=\":443\"; ma=86400, h3-29=\":443\"; ma=86400\r\n";
    if (rng.chance(30)) {
        h += "Report-To: {\"endpoints\":[{\"url\":\"https:\\/\\/a.nel.cloudflare.com\\/report\\/v4?s=" + token(rng, 60)
            + "\"}],\"group\":\"cf-nel\",\"max_age\":604800}\r\nNEL: {\"success_fraction\":0,\"report_to\":\"cf-nel\",\"max_age\":604800}\r\n";
    }
    if (rng.chance(30))
        h += "Link: <https://" + host + "/static/app." + hex(rng, 8) + ".css>; rel=\"preload\"; as=\"style\"\r\n";
    if (rng.chance(40))
        h += "Content-Disposition: inline; filename=\"report-" + std::to_string(rng.between(1000, 9999)) + ".json\"\r\n";
    h += "Server-Timing: cfRequestDuration;dur=" + std::to_string(rng.between(1, 900)) + ".5, edge;desc=\"hit\"\r\n";
    if (rng.chance(50))
        h += "Strict-Transport-Security: max-age=31536000; includeSubDomains; preload\r\n";
    h += "Vary: Accept-Encoding, Origin\r\n\r\n";
    return h;
}

// One tunnel record as the service writes it: compact JSON text of a proxied HTTP exchange.
std::string tunnelText(SplitMix64& rng, std::int64_t serial, bool brief)
{
    static constexpr std::array<const char*, 4> kMethods{"GET", "GET", "POST", "PUT"};
    const std::string host = rng.pick(kHosts);
    const std::string method = rng.pick(kMethods);
    const std::string path = std::string("/v2/") + rng.pick(kResources) + '/' + std::to_string(rng.between(1, 9999999))
        + "?page=" + std::to_string(rng.between(1, 40)) + "&q=" + token(rng, 10) + "%20" + token(rng, 6);
    const std::string status = rng.pick(kStatus);
    const double start = 1714051234.0 + static_cast<double>(rng.below(86400000)) / 1000.0;
    const std::int64_t upload = rng.between(200, 60000);
    const std::int64_t download = rng.between(0, 4000000);

    // A brief record keeps the shape (ids, addresses, times, counts, both header blocks) but
    // fits a packet of about a kilobyte.
    Dictionary t = Dictionary::object();
    t["id"] = serial;
    if (!brief)
        t["uuid"] = uuid(rng);
    t["processName"] = rng.pick(kProcesses);
    if (!brief)
        t["processId"] = rng.between(200, 99999);
    t["method"] = method;
    t["url"] = "https://" + host + path;
    t["remoteAddress"] = ipv4(rng, false);
    t["localPort"] = rng.between(49152, 65535);
    t["remoteHost"] = host;
    t["rule"] = std::string("DOMAIN-SUFFIX,") + host + ",Proxy";
    if (!brief) {
        t["remotePort"] = 443;
        t["localAddress"] = ipv4(rng, true);
        t["policyName"] = rng.chance(50) ? "Proxy" : "DIRECT";
    }
    t["startDate"] = start;
    if (!brief)
        t["connectedDate"] = start + static_cast<double>(rng.between(3, 300)) / 1000.0;
    t["completedDate"] = start + static_cast<double>(rng.between(300, 90000)) / 1000.0;
    t["outBytes"] = upload;
    t["inBytes"] = download;
    if (!brief) {
        t["outCurrentSpeed"] = 0;
        t["inMaxSpeed"] = rng.between(0, 9000000);
    }
    t["statusCode"] = std::stoi(status);
    t["status"] = "Completed";
    t["requestHeader"] = requestHeader(rng, method, host, path, brief);
    t["responseHeader"] = responseHeader(rng, status, host, download, brief);
    if (!brief) {
        t["failed"] = false;
        t["notes"] = Dictionary::array({"[Socket] connected in " + std::to_string(rng.between(3, 300)) + "ms",
                                        "[TLS] SNI \"" + host + "\", ALPN \"http/1.1\""});
    }
    return t.dump();
}

struct Input {
    std::string label;
    std::size_t tunnels = 0;
    vd::QNComPacket packet;
    vd::Bytes wire;
    std::size_t jsonSize = 0;
    std::size_t tunnelTextBytes = 0;
    QJsonObject toolkitObject; // the same dictionary, built once for the toolkit encoder
};

vd::QNComPacket reportPacket(std::size_t tunnels, bool brief, std::uint64_t seed)
{
    SplitMix64 rng(seed);
    vd::QNComPacket packet = vd::QNComPacket::initWithId(5);
    packet.setCmd(7);
    Dictionary list = Dictionary::array();
    auto& items = list.get_ref<Dictionary::array_t&>();
    items.reserve(tunnels);
    for (std::size_t i = 0; i < tunnels; ++i)
        items.emplace_back(tunnelText(rng, static_cast<std::int64_t>(1000 + i), brief));
    packet.setData(Dictionary::object({{"tunnels", std::move(list)}}));
    return packet;
}

// Adds whole tunnels until the wire form reaches `targetWire`; below one tunnel's worth a
// single brief record stands in, so even the smallest packet has the report's shape.
std::size_t tunnelsFor(std::size_t targetWire, std::uint64_t seed, bool& brief)
{
    SplitMix64 rng(seed);
    const std::size_t envelope = std::string(R"({"v":1,"c":1,"i":5,"t":7,"d":{"tunnels":[]}})").size();
    std::size_t json = envelope;
    std::size_t count = 0;
    while (true) {
        const std::size_t next = Dictionary(tunnelText(rng, static_cast<std::int64_t>(1000 + count), false)).dump().size() + 1;
        // Stop at whichever count lands nearer the target.
        const std::size_t without = json * 4 / 3;
        const std::size_t with = (json + next) * 4 / 3;
        if (with >= targetWire && with - targetWire > (targetWire > without ? targetWire - without : 0))
            break;
        json += next;
        ++count;
    }
    brief = count == 0;
    return brief ? 1 : count;
}

std::unique_ptr<Input> makeInput(std::string label, std::size_t targetWire, std::optional<std::size_t> fixedTunnels)
{
    auto input = std::make_unique<Input>();
    input->label = std::move(label);
    const std::uint64_t seed = kSeed ^ targetWire;
    bool brief = false;
    input->tunnels = fixedTunnels ? *fixedTunnels : tunnelsFor(targetWire, seed, brief);
    input->packet = reportPacket(input->tunnels, brief, seed);
    input->wire = *input->packet.toData();
    input->jsonSize = input->packet.dic().dump().size();
    for (const auto& text : input->packet.dic()["d"]["tunnels"])
        input->tunnelTextBytes += text.get_ref<const std::string&>().size();

    const std::string json = input->packet.dic().dump();
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        std::fprintf(stderr, "toolkit cannot read the %s input: %s\n", input->label.c_str(), qPrintable(error.errorString()));
        return nullptr;
    }
    input->toolkitObject = document.object();
    return input;
}

std::string_view base64Text(const vd::Bytes& wire)
{
    return {reinterpret_cast<const char*>(wire.data()), wire.size() - sizeof vd::QNComPacket::kTerminator};
}

// Every contender must produce the right thing before its speed means anything.
bool verify(const Input& input)
{
    const auto decoded = vd::QNComPacket::initWithData(input.wire);
    if (!decoded || decoded->dic() != input.packet.dic()) {
        std::fprintf(stderr, "%s: the packet does not survive a round trip\n", input.label.c_str());
        return false;
    }
    // QJsonObject keeps its keys sorted, so the comparison ignores member order.
    const QByteArray toolkitJson = QJsonDocument(input.toolkitObject).toJson(QJsonDocument::Compact);
    if (nlohmann::json::parse(toolkitJson.begin(), toolkitJson.end()) != nlohmann::json::parse(input.packet.dic().dump())) {
        std::fprintf(stderr, "%s: the toolkit encodes a different dictionary\n", input.label.c_str());
        return false;
    }
    const auto text = base64Text(input.wire);
    const QByteArray toolkitDecoded = QByteArray::fromBase64(QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())));
    const QJsonDocument document = QJsonDocument::fromJson(toolkitDecoded);
    if (!document.isObject() || document.object() != input.toolkitObject) {
        std::fprintf(stderr, "%s: the toolkit decodes a different dictionary\n", input.label.c_str());
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Benchmarks. Each decoder's result dies inside the loop: freeing what was built is part of
// what a caller pays per packet.

void decodePacket(benchmark::State& state, const Input* input)
{
    for (auto _ : state) {
        auto packet = vd::QNComPacket::initWithData(input->wire);
        if (!packet) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(packet);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input->wire.size()));
}

void decodeBareLimit(benchmark::State& state, const Input* input)
{
    const auto text = base64Text(input->wire);
    // Buffer and parser are kept across iterations: the limit allocates nothing per packet.
    std::vector<std::uint8_t> json(vd::base64::decodedSizeBound(text.size()) + simdjson::SIMDJSON_PADDING);
    simdjson::dom::parser parser;
    for (auto _ : state) {
        const auto size = vd::base64::decodeStrict(text, json.data());
        if (!size) {
            state.SkipWithError("Base64 rejected");
            break;
        }
        std::memset(json.data() + *size, 0, simdjson::SIMDJSON_PADDING);
        simdjson::dom::element root;
        if (parser.parse(json.data(), *size, false).get(root) != simdjson::SUCCESS) {
            state.SkipWithError("JSON rejected");
            break;
        }
        benchmark::DoNotOptimize(root);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input->wire.size()));
}

void decodeToolkit(benchmark::State& state, const Input* input)
{
    const auto text = base64Text(input->wire);
    for (auto _ : state) {
        const QByteArray json = QByteArray::fromBase64(QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())));
        QJsonDocument document = QJsonDocument::fromJson(json);
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input->wire.size()));
}

void encodePacket(benchmark::State& state, const Input* input)
{
    for (auto _ : state) {
        auto wire = input->packet.toData();
        benchmark::DoNotOptimize(wire);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input->wire.size()));
}

void encodeToolkit(benchmark::State& state, const Input* input)
{
    for (auto _ : state) {
        QByteArray wire = QJsonDocument(input->toolkitObject).toJson(QJsonDocument::Compact).toBase64();
        wire.append(reinterpret_cast<const char*>(vd::QNComPacket::kTerminator), sizeof vd::QNComPacket::kTerminator);
        benchmark::DoNotOptimize(wire);
    }
    // The packet's wire size, not the toolkit's, so both rows count the same payload.
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input->wire.size()));
}

// ---------------------------------------------------------------------------------------------
// Reporting: the console output as usual, plus seconds per iteration kept by name so the ratios
// can be computed from this very run.

class RecordingReporter : public benchmark::ConsoleReporter {
public:
    using ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0)
                continue;
            // Repetitions of one benchmark are averaged.
            auto& [sum, count] = seconds_[run.run_name.function_name];
            sum += run.real_accumulated_time / static_cast<double>(run.iterations);
            ++count;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::optional<double> secondsPerIteration(const std::string& name) const
    {
        const auto it = seconds_.find(name);
        if (it == seconds_.end())
            return std::nullopt;
        return it->second.first / it->second.second;
    }

private:
    std::map<std::string, std::pair<double, int>> seconds_;
};

std::string name(const char* operation, const char* contender, const Input& input)
{
    return std::string(operation) + '/' + contender + '/' + input.label;
}

std::string ratioCell(std::optional<double> numerator, std::optional<double> denominator, double target)
{
    if (!numerator || !denominator || *denominator <= 0)
        return "n/a";
    const double ratio = *numerator / *denominator;
    char buffer[64];
    if (target > 0)
        std::snprintf(buffer, sizeof buffer, "%.2fx (%s %.1fx)", ratio, ratio >= target ? "meets" : "MISSES", target);
    else
        std::snprintf(buffer, sizeof buffer, "%.2fx", ratio);
    return buffer;
}

std::string throughputCell(std::optional<double> seconds, const Input& input)
{
    if (!seconds || *seconds <= 0)
        return "n/a";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.0f", static_cast<double>(input.wire.size()) / *seconds / (1024.0 * 1024.0));
    return buffer;
}

void printSummary(const RecordingReporter& reporter, const std::vector<std::unique_ptr<Input>>& inputs)
{
    const auto seconds = [&](const char* operation, const char* contender, const Input& input) {
        return reporter.secondsPerIteration(name(operation, contender, input));
    };

    std::printf("\nThroughput over the packet's wire size, MiB/s\n");
    std::printf("%-7s %10s %10s %10s %10s %10s\n", "size", "decode", "bare", "toolkit", "encode", "toolkit");
    for (const auto& input : inputs) {
        std::printf("%-7s %10s %10s %10s %10s %10s\n", input->label.c_str(), throughputCell(seconds("decode", "packet", *input), *input).c_str(),
                    throughputCell(seconds("decode", "bare_limit", *input), *input).c_str(),
                    throughputCell(seconds("decode", "toolkit", *input), *input).c_str(),
                    throughputCell(seconds("encode", "packet", *input), *input).c_str(),
                    throughputCell(seconds("encode", "toolkit", *input), *input).c_str());
    }

    // A ratio is the packet codec's throughput over the baseline's; above 1 the codec is faster.
    // The targets apply where they matter, to the packets big enough to stall the dashboard.
    std::printf("\nRatios of throughput, packet codec / baseline, this run\n");
    std::printf("%-7s %-26s %-26s %-14s\n", "size", "decode vs bare limit", "decode vs toolkit", "encode vs toolkit");
    for (const auto& input : inputs) {
        const bool large = input->wire.size() >= (4u << 20) - (1u << 18);
        std::printf("%-7s %-26s %-26s %-14s\n", input->label.c_str(),
                    ratioCell(seconds("decode", "bare_limit", *input), seconds("decode", "packet", *input), large ? 0.6 : 0).c_str(),
                    ratioCell(seconds("decode", "toolkit", *input), seconds("decode", "packet", *input), large ? 8.0 : 0).c_str(),
                    ratioCell(seconds("encode", "toolkit", *input), seconds("encode", "packet", *input), 0).c_str());
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    std::vector<std::unique_ptr<Input>> inputs;
    inputs.push_back(makeInput("1KiB", 1u << 10, std::nullopt));
    inputs.push_back(makeInput("64KiB", 64u << 10, std::nullopt));
    inputs.push_back(makeInput("4MiB", 4u << 20, std::nullopt));
    inputs.push_back(makeInput("30MiB", 30u << 20, 10000));
    for (const auto& input : inputs) {
        if (!input || !verify(*input))
            return 1;
    }

    std::printf("Inputs (seed %#" PRIx64 "):\n", kSeed);
    for (const auto& input : inputs) {
        std::printf("  %-6s %6zu tunnel text(s) of %5zu bytes on average, JSON %9zu bytes, wire %9zu bytes (%.2f MiB)\n",
                    input->label.c_str(), input->tunnels, input->tunnelTextBytes / input->tunnels, input->jsonSize, input->wire.size(),
                    static_cast<double>(input->wire.size()) / (1024.0 * 1024.0));
    }
    std::fflush(stdout);

    for (const auto& input : inputs) {
        const Input* in = input.get();
        const bool large = in->wire.size() >= (1u << 20);
        const std::array<std::pair<std::string, void (*)(benchmark::State&, const Input*)>, 5> cases{{
            {name("decode", "packet", *in), decodePacket},
            {name("decode", "bare_limit", *in), decodeBareLimit},
            {name("decode", "toolkit", *in), decodeToolkit},
            {name("encode", "packet", *in), encodePacket},
            {name("encode", "toolkit", *in), encodeToolkit},
        }};
        for (const auto& [caseName, function] : cases) {
            auto* bench = benchmark::RegisterBenchmark(caseName.c_str(), function, in);
            // Big packets take tens of milliseconds per round; a short window keeps the whole
            // program near half a minute on two cores while the toolkit still gets several rounds.
            bench->Unit(large ? benchmark::kMillisecond : benchmark::kMicrosecond);
            bench->MinTime(large ? 1.0 : 0.3);
        }
    }

    RecordingReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter, inputs);
    benchmark::Shutdown();
    return 0;
}
