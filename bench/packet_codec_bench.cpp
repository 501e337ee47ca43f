// Throughput of the link's packet codec next to two baselines, measured in the same run:
//  - "bare_limit": strict Base64 decoding plus a simdjson parse that builds nothing. The
//    packet decoder cannot beat this, so it shows how much the conversion into a usable
//    dictionary costs on top.
//  - "toolkit": QByteArray::fromBase64 + QJsonDocument, what the dashboard would do without
//    its own codec.
// The inputs imitate the heaviest thing the service sends: a report whose "d" carries a list
// of tunnel records from the simulator's traffic generator, each a JSON text in a string, so
// every quote in a captured HTTP header is escaped twice. After the benchmarks a table of
// ratios is printed, each figure the median of five runs in the measuring thread's CPU time.

#include <array>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <simdjson.h>

#include "BenchReport.h"
#include "TrafficGenerator.h"
#include "link/QNComPacket.h"
#include "link/ServiceContract.h"
#include "platform/Base64.h"

namespace {

using Dictionary = vd::QNComPacket::Dictionary;

// ---------------------------------------------------------------------------------------------
// Inputs. Every report is drawn from one seed, so a shorter report is the head of a longer one
// and figures from two machines describe the same packets.

constexpr std::uint64_t kSeed = 0x5641'4E54'4F52ull;
constexpr int kRepetitions = 5;

struct Input {
    std::string label;
    std::size_t tunnels = 0;
    vd::QNComPacket packet;
    vd::Bytes wire;
    std::string json; // what the wire carries in Base64
    std::size_t tunnelTextBytes = 0;
    QJsonObject toolkitObject; // the same dictionary, built once for the toolkit encoder
};

// Tunnels of a service up for 5000 s; one in three is still open, as in a busy second of traffic.
std::string tunnelText(vd::sim::TrafficGenerator& generator, std::size_t serial)
{
    return generator.tunnelText(static_cast<std::int64_t>(1000 + serial), 5000, serial % 3 == 0);
}

vd::QNComPacket reportPacket(std::size_t tunnels)
{
    vd::sim::TrafficGenerator generator(kSeed);
    Dictionary list = Dictionary::array();
    auto& items = list.get_ref<Dictionary::array_t&>();
    items.reserve(tunnels);
    for (std::size_t i = 0; i < tunnels; ++i)
        items.emplace_back(tunnelText(generator, i));
    vd::QNComPacket packet = vd::QNComPacket::initWithId(5);
    packet.setCmd(vd::contract::numberOf(vd::contract::Command::currentTunnels));
    packet.setData(Dictionary::object({{"tunnels", std::move(list)}}));
    return packet;
}

// The number of whole tunnels whose report lands nearest to `targetWire` bytes on the wire,
// which must be more than an empty report takes.
std::size_t tunnelsNear(std::size_t targetWire)
{
    vd::sim::TrafficGenerator generator(kSeed);
    std::size_t json = reportPacket(0).dic().dump().size();
    for (std::size_t count = 0;; ++count) {
        const std::size_t next = json + Dictionary(tunnelText(generator, count)).dump().size() + 1;
        // Base64 makes four wire bytes of every three; the terminator is left out.
        const std::size_t without = json * 4 / 3;
        const std::size_t with = next * 4 / 3;
        if (with >= targetWire)
            return with - targetWire < targetWire - without ? count + 1 : count;
        json = next;
    }
}

std::unique_ptr<Input> makeInput(std::string label, std::size_t tunnels)
{
    auto input = std::make_unique<Input>();
    input->label = std::move(label);
    input->tunnels = tunnels;
    input->packet = reportPacket(tunnels);
    input->wire = *input->packet.toData();
    for (const auto& text : input->packet.dic()["d"]["tunnels"])
        input->tunnelTextBytes += text.get_ref<const std::string&>().size();

    input->json = input->packet.dic().dump();
    const std::string& json = input->json;
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
    // The encoder's wire is the dictionary's own JSON in the toolkit's Base64, byte for byte.
    const auto text = base64Text(input.wire);
    if (QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())) !=
        QByteArray::fromRawData(input.json.data(), static_cast<qsizetype>(input.json.size())).toBase64()) {
        std::fprintf(stderr, "%s: the encoder writes other bytes than the dictionary's JSON in Base64\n", input.label.c_str());
        return false;
    }
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

// Base64 alone, as the simulator sends its reports: their JSON is written as text already.
void base64Packet(benchmark::State& state, const Input* input)
{
    const auto* json = reinterpret_cast<const std::uint8_t*>(input->json.data());
    for (auto _ : state) {
        std::string text = vd::base64::encode({json, input->json.size()});
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input->wire.size()));
}

void base64Toolkit(benchmark::State& state, const Input* input)
{
    const QByteArray json = QByteArray::fromRawData(input->json.data(), static_cast<qsizetype>(input->json.size()));
    for (auto _ : state) {
        QByteArray text = json.toBase64();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input->wire.size()));
}

// ---------------------------------------------------------------------------------------------
// Reporting.

std::string name(const char* operation, const char* contender, const Input& input)
{
    return std::string(operation) + '/' + contender + '/' + input.label;
}

void printSummary(const vd::bench::RecordingReporter& reporter, const std::vector<std::unique_ptr<Input>>& inputs)
{
    std::printf("\nThroughput over the packet's wire size, MiB/s, medians of %d runs in CPU time\n", kRepetitions);
    std::printf("%-7s %10s %10s %10s %10s %10s %10s %10s\n", "size", "decode", "bare", "toolkit", "encode", "toolkit", "base64",
                "toolkit");
    for (const auto& input : inputs) {
        const auto mibPerSecond = [&](const char* operation, const char* contender) {
            return vd::bench::throughput(reporter.medianCpuSecondsPerIteration(name(operation, contender, *input)), input->wire.size());
        };
        std::printf("%-7s %10s %10s %10s %10s %10s %10s %10s\n", input->label.c_str(), mibPerSecond("decode", "packet").c_str(),
                    mibPerSecond("decode", "bare_limit").c_str(), mibPerSecond("decode", "toolkit").c_str(),
                    mibPerSecond("encode", "packet").c_str(), mibPerSecond("encode", "toolkit").c_str(),
                    mibPerSecond("base64", "packet").c_str(), mibPerSecond("base64", "toolkit").c_str());
    }

    // A ratio is the packet codec's throughput over the baseline's; above 1 the codec is faster.
    // The targets apply where they matter, to the packets big enough to stall the dashboard.
    std::printf("\nRatios of throughput, packet codec / baseline, this run\n");
    std::printf("%-7s %-26s %-26s %-26s %s\n", "size", "decode vs bare limit", "decode vs toolkit", "encode vs toolkit",
                "Base64 vs toolkit");
    for (const auto& input : inputs) {
        const bool large = input->wire.size() >= (4u << 20) - (1u << 18);
        const auto ratio = [&](const char* operation, const char* baseline, double target) {
            return vd::bench::ratio(reporter.medianCpuSecondsPerIteration(name(operation, baseline, *input)),
                                    reporter.medianCpuSecondsPerIteration(name(operation, "packet", *input)), large ? target : 0);
        };
        std::printf("%-7s %-26s %-26s %-26s %s\n", input->label.c_str(), ratio("decode", "bare_limit", 0.6).c_str(),
                    ratio("decode", "toolkit", 8.0).c_str(), ratio("encode", "toolkit", 1.0).c_str(), ratio("base64", "toolkit", 0).c_str());
    }
    vd::bench::printLoadAverage("after the runs");
}

bool prepare(std::vector<std::unique_ptr<Input>>& inputs)
{
    // A single tunnel already takes a few kilobytes on the wire, so the smallest report holds
    // one; ten thousand make the largest.
    inputs.push_back(makeInput("1tunnel", 1));
    inputs.push_back(makeInput("64KiB", tunnelsNear(64u << 10)));
    inputs.push_back(makeInput("4MiB", tunnelsNear(4u << 20)));
    inputs.push_back(makeInput("32MiB", 10000));
    for (const auto& input : inputs) {
        if (!input || !verify(*input))
            return false;
    }

    std::printf("Inputs (seed %#" PRIx64 "):\n", kSeed);
    for (const auto& input : inputs) {
        std::printf("  %-6s %6zu tunnel text(s) of %5zu bytes on average, JSON %9zu bytes, wire %9zu bytes (%.2f MiB)\n",
                    input->label.c_str(), input->tunnels, input->tunnelTextBytes / input->tunnels, input->json.size(), input->wire.size(),
                    static_cast<double>(input->wire.size()) / (1024.0 * 1024.0));
    }
    vd::bench::printLoadAverage("before the runs");
    std::fflush(stdout);

    for (const auto& input : inputs) {
        const Input* in = input.get();
        const bool large = in->wire.size() >= (1u << 20);
        const std::array<std::pair<std::string, void (*)(benchmark::State&, const Input*)>, 7> cases{{
            {name("decode", "packet", *in), decodePacket},
            {name("decode", "bare_limit", *in), decodeBareLimit},
            {name("decode", "toolkit", *in), decodeToolkit},
            {name("encode", "packet", *in), encodePacket},
            {name("encode", "toolkit", *in), encodeToolkit},
            {name("base64", "packet", *in), base64Packet},
            {name("base64", "toolkit", *in), base64Toolkit},
        }};
        for (const auto& [caseName, function] : cases) {
            auto* bench = benchmark::RegisterBenchmark(caseName.c_str(), function, in);
            // Big packets take tens of milliseconds per round; short windows keep the whole
            // program near a minute on two cores while the toolkit still gets a few rounds in each.
            bench->Unit(large ? benchmark::kMillisecond : benchmark::kMicrosecond);
            bench->MinTime(large ? 0.3 : 0.06);
            bench->Repetitions(kRepetitions);
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::unique_ptr<Input>> inputs;
    return vd::bench::run(
        argc, argv, [&] { return prepare(inputs); }, [&](const vd::bench::RecordingReporter& reporter) { printSummary(reporter, inputs); });
}
