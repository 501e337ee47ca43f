// How fast tunnel records are built from the texts the service reports every second, next to
// two baselines measured in the same run:
//  - "bare_parse": simdjson parsing every text and building nothing, the practical limit;
//  - "toolkit": the same records filled from QJsonDocument, what a Qt program would do.
// Also prints the heap held per record relative to the size of its text (about 1.0 is the floor,
// since a record keeps its text verbatim, escaped as the report carried it).

#include <malloc.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <simdjson.h>

#include "BenchReport.h"
#include "TrafficGenerator.h"
#include "data/VDTunnelInfo.h"
#include "link/ReceivedPacket.h"
#include "link/ShortEscapesBlocks.h"

namespace {

struct Report {
    std::vector<std::string> texts;
    // Each text as the report carries it, the inside of a JSON string.
    std::vector<std::string> escaped;
    std::size_t bytes = 0;
};

const Report& report(std::size_t count)
{
    static std::map<std::size_t, Report> reports;
    auto& r = reports[count];
    if (r.texts.empty()) {
        vd::sim::TrafficGenerator generator(42);
        for (std::size_t i = 0; i < count; ++i) {
            std::string text = generator.tunnelText(static_cast<std::int64_t>(i), 5000, i % 3 == 0);
            const std::string quoted = nlohmann::json(text).dump();
            r.escaped.push_back(quoted.substr(1, quoted.size() - 2));
            // Unescaped as the processor does it, with room after the text to be parsed in place.
            text.reserve(text.size() + simdjson::SIMDJSON_PADDING);
            r.texts.push_back(std::move(text));
            r.bytes += r.texts.back().size();
        }
    }
    return r;
}

// What a record built the toolkit way holds: every field read into Qt types.
struct ToolkitTunnel {
    QString raw;
    qint64 ints[12] = {};
    double times[7] = {};
    bool flags[6] = {};
    QString texts[12];
    QString headers[6];
};

const char* const kIntKeys[] = {"id", "endId", "type", "port", "processIdentifier", "fromPort", "rx", "tx",
                                "rx_speed", "tx_speed", "rx_max_speed", "tx_max_speed"};
const char* const kTimeKeys[] = {"t_start", "t_server_ready", "t_dns_resolved", "t_rule_found", "t_proxy_ready", "t_close", "t_end"};
const char* const kFlagKeys[] = {"headerModified", "responseModified", "SSLHeaderModified", "SSLResponseModified", "hasReceive", "hasSend"};
const char* const kTextKeys[] = {"host", "responseCode", "SSLHost", "SSLResponseCode", "processName", "bundleIdentifier",
                                 "processPath", "fromHost", "ipAddr", "outboundMode", "ruleInfo", "policyName"};
const char* const kHeaderKeys[] = {"headerString", "modifiedHeaderString", "responseHeader", "SSLHeaderString",
                                   "SSLModifiedHeaderString", "SSLResponseHeader"};

std::unique_ptr<ToolkitTunnel> toolkitRecord(const std::string& text)
{
    const auto document = QJsonDocument::fromJson(QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())));
    if (!document.isObject())
        return nullptr;
    const QJsonObject object = document.object();
    auto record = std::make_unique<ToolkitTunnel>();
    record->raw = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    for (int i = 0; i < 12; ++i)
        record->ints[i] = object.value(QLatin1String(kIntKeys[i])).toInteger();
    for (int i = 0; i < 7; ++i)
        record->times[i] = object.value(QLatin1String(kTimeKeys[i])).toDouble();
    for (int i = 0; i < 6; ++i)
        record->flags[i] = object.value(QLatin1String(kFlagKeys[i])).toBool();
    for (int i = 0; i < 12; ++i)
        record->texts[i] = object.value(QLatin1String(kTextKeys[i])).toString();
    for (int i = 0; i < 6; ++i)
        record->headers[i] = object.value(QLatin1String(kHeaderKeys[i])).toString();
    return record;
}

void setCounters(benchmark::State& state, const Report& r)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * r.bytes));
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(state.iterations() * r.texts.size()), benchmark::Counter::kIsRate);
}

// As in the dashboard, each report's records are built while the previous report's are still
// held (the views show them), and those go only once the new list has replaced them.
// A record is built from its text unescaped (the processor's unescaping is measured with the
// whole report in vd_bench_unchanged_records) and keeps the escaped form the report carried.
void recordsBuilt(benchmark::State& state)
{
    const Report& r = report(static_cast<std::size_t>(state.range(0)));
    std::vector<std::shared_ptr<const vd::VDTunnelInfo>> shown;
    for (auto _ : state) {
        std::vector<std::shared_ptr<const vd::VDTunnelInfo>> records;
        records.reserve(r.texts.size());
        for (std::size_t i = 0; i < r.texts.size(); ++i)
            records.push_back(vd::VDTunnelInfo::initWithReportText(r.escaped[i], r.texts[i], 1.7e9));
        shown = std::move(records);
        benchmark::DoNotOptimize(shown.data());
    }
    setCounters(state, r);
}

void bareParse(benchmark::State& state)
{
    const Report& r = report(static_cast<std::size_t>(state.range(0)));
    simdjson::dom::parser parser;
    std::string padded;
    for (auto _ : state) {
        for (const auto& text : r.texts) {
            padded.assign(text);
            padded.append(simdjson::SIMDJSON_PADDING, '\0');
            simdjson::dom::element root;
            if (parser.parse(padded.data(), text.size(), false).get(root))
                state.SkipWithError("bad text");
            benchmark::DoNotOptimize(root);
        }
    }
    setCounters(state, r);
}

void toolkitBuilt(benchmark::State& state)
{
    const Report& r = report(static_cast<std::size_t>(state.range(0)));
    std::vector<std::unique_ptr<ToolkitTunnel>> shown;
    for (auto _ : state) {
        std::vector<std::unique_ptr<ToolkitTunnel>> records;
        records.reserve(r.texts.size());
        for (const auto& text : r.texts)
            records.push_back(toolkitRecord(text));
        shown = std::move(records);
        benchmark::DoNotOptimize(shown.data());
    }
    setCounters(state, r);
}

// Unescaping the texts that changed, before their records are built: the link's unescaper, and
// the full one of simdjson it falls back on, which the processor used alone before.
void unescapedAsTheLinkDoes(benchmark::State& state)
{
    const Report& r = report(static_cast<std::size_t>(state.range(0)));
    std::string text;
    for (auto _ : state) {
        for (const auto& escaped : r.escaped) {
            if (!vd::ReceivedPacket::unescapeText(escaped, text))
                state.SkipWithError("bad text");
            benchmark::DoNotOptimize(text.data());
        }
    }
    setCounters(state, r);
}

void unescapedBySimdjson(benchmark::State& state)
{
    const Report& r = report(static_cast<std::size_t>(state.range(0)));
    // The full unescaper reads to the closing quote, in whole blocks.
    std::vector<std::string> quoted;
    for (const auto& escaped : r.escaped)
        quoted.push_back(escaped + '"' + std::string(simdjson::SIMDJSON_PADDING, '\0'));
    simdjson::ondemand::parser parser;
    if (parser.allocate(simdjson::SIMDJSON_PADDING))
        state.SkipWithError("no parser");
    std::string text;
    for (auto _ : state) {
        for (const auto& escaped : quoted) {
            text.resize(escaped.size());
            auto* out = reinterpret_cast<std::uint8_t*>(text.data());
            std::string_view unescaped;
            if (parser.unescape(simdjson::ondemand::raw_json_string(reinterpret_cast<const std::uint8_t*>(escaped.data())), out)
                    .get(unescaped))
                state.SkipWithError("bad text");
            benchmark::DoNotOptimize(unescaped.data());
        }
    }
    setCounters(state, r);
}

// Each block unescaper alone, as the link uses the best one the processor has: a figure for the
// ones this processor would not choose, where it can run them.
void unescapedByBlocks(benchmark::State& state, vd::json::blocks::BlockUnescaper unescaper)
{
    if (!unescaper.supported()) {
        state.SkipWithError("this processor has not the instructions");
        return;
    }
    const Report& r = report(static_cast<std::size_t>(state.range(0)));
    std::string text;
    for (auto _ : state) {
        for (const auto& escaped : r.escaped) {
            text.resize(escaped.size() + simdjson::SIMDJSON_PADDING);
            const auto size = unescaper.unescape(escaped, text.data());
            if (!size) {
                state.SkipWithError("a text left to the full unescaper");
                return;
            }
            text.resize(*size);
            benchmark::DoNotOptimize(text.data());
        }
    }
    setCounters(state, r);
}

BENCHMARK(recordsBuilt)->Name("records/built")->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(bareParse)->Name("records/bare_parse")->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(toolkitBuilt)->Name("records/toolkit")->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(unescapedAsTheLinkDoes)->Name("records/unescaped")->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(unescapedBySimdjson)->Name("records/unescaped_simdjson")->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void printRatios(const vd::bench::RecordingReporter& reporter)
{
    std::printf("\nRatios of throughput, this run\n%-8s %-22s %-22s %-22s", "texts", "built vs bare parse", "built vs toolkit",
                "unescaping vs simdjson");
    for (const auto& unescaper : vd::json::blocks::all())
        std::printf(" %-22s", (std::string(unescaper.name) + " vs simdjson").c_str());
    std::printf("\n");
    for (const char* count : {"1000", "10000"}) {
        const auto seconds = [&](const std::string& contender) {
            return reporter.secondsPerIteration("records/" + contender + '/' + count);
        };
        const auto built = seconds("built");
        std::printf("%-8s %-22s %-22s %-22s", count, vd::bench::ratio(seconds("bare_parse"), built, 0.5).c_str(),
                    vd::bench::ratio(seconds("toolkit"), built, 8).c_str(),
                    vd::bench::ratio(seconds("unescaped_simdjson"), seconds("unescaped"), 1).c_str());
        for (const auto& unescaper : vd::json::blocks::all())
            std::printf(" %-22s",
                        vd::bench::ratio(seconds("unescaped_simdjson"), seconds(std::string("unescaped_") + unescaper.name), 1).c_str());
        std::printf("\n");
    }
}

void printMemory()
{
    const Report& r = report(10000);
    std::vector<std::shared_ptr<const vd::VDTunnelInfo>> records;
    records.reserve(r.texts.size());
    const auto afterVector = mallinfo2().uordblks;
    std::size_t held = 0;
    for (std::size_t i = 0; i < r.texts.size(); ++i) {
        records.push_back(vd::VDTunnelInfo::initWithReportText(r.escaped[i], r.texts[i], 1.7e9));
        held += records.back()->heldBytes();
    }
    const auto after = mallinfo2().uordblks;
    const double heap = static_cast<double>(after - afterVector);
    std::printf("\nMemory for 10000 records of %.0f text bytes on average:\n", static_cast<double>(r.bytes) / 10000);
    std::printf("  heap held / text size   %.2fx (target <= 1.6x)\n", heap / static_cast<double>(r.bytes));
    std::printf("  record bytes / text size %.2fx (object + buffer, without allocator overhead)\n",
                static_cast<double>(held) / static_cast<double>(r.bytes));
}

void registerBlockUnescapers()
{
    for (const auto& unescaper : vd::json::blocks::all()) {
        benchmark::RegisterBenchmark((std::string("records/unescaped_") + unescaper.name).c_str(), unescapedByBlocks, unescaper)
            ->Arg(1000)
            ->Arg(10000)
            ->Unit(benchmark::kMillisecond);
    }
}

} // namespace

int main(int argc, char** argv)
{
    // The benchmarks run over inputs made on first use; one per block unescaper built in is added
    // to those registered by themselves.
    return vd::bench::run(
        argc, argv,
        [] {
            registerBlockUnescapers();
            return true;
        },
        [](const vd::bench::RecordingReporter& reporter) {
            printRatios(reporter);
            printMemory();
        });
}
