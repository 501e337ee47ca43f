// How fast the body parser cuts a 16 MiB body out of a captured response, next to copying the
// same 16 MiB with memcpy in the same run. The body callbacks point into the input, so the
// parser should cost little more than one copy of the body; a parser that copied byte by byte
// or let the buffer grow step by step would fall far behind.
//
// Two pairs are measured:
//  - warm: one parser fed again and again (its body buffer stays allocated) against memcpy
//    into a buffer allocated once. This isolates the parsing.
//  - fresh: a new parser per message, as the body view makes one per shown body, against
//    copying into a newly allocated buffer. Both pay for allocation and first-touch page faults.
// After the benchmarks the ratios of throughput are printed; they only mean something between
// figures of one run.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include "data/VDHTTPDataParser.h"

namespace {

constexpr std::size_t kBodySize = 16u << 20;
constexpr std::size_t kChunkSize = 64u << 10;

struct Inputs {
    vd::Bytes body;
    vd::Bytes contentLength;
    vd::Bytes chunked;
};

void append(vd::Bytes& to, const std::string& text)
{
    to.insert(to.end(), text.begin(), text.end());
}

Inputs makeInputs()
{
    Inputs in;
    // Not compressible and not constant, like a real media or archive body.
    in.body.resize(kBodySize);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (auto& byte : in.body) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<std::uint8_t>(state);
    }

    const std::string head = "HTTP/1.1 200 OK\r\nServer: nginx\r\nContent-Type: application/octet-stream\r\n"
                             "Cache-Control: max-age=3600\r\nConnection: keep-alive\r\n";
    append(in.contentLength, head + "Content-Length: " + std::to_string(kBodySize) + "\r\n\r\n");
    in.contentLength.insert(in.contentLength.end(), in.body.begin(), in.body.end());

    append(in.chunked, head + "Transfer-Encoding: chunked\r\n\r\n");
    for (std::size_t at = 0; at < kBodySize; at += kChunkSize) {
        const std::size_t size = std::min(kChunkSize, kBodySize - at);
        char line[32];
        std::snprintf(line, sizeof line, "%zx\r\n", size);
        append(in.chunked, line);
        in.chunked.insert(in.chunked.end(), in.body.begin() + static_cast<std::ptrdiff_t>(at),
                          in.body.begin() + static_cast<std::ptrdiff_t>(at + size));
        append(in.chunked, "\r\n");
    }
    append(in.chunked, "0\r\n\r\n");
    return in;
}

bool extractsBody(const vd::Bytes& message, const vd::Bytes& body, const char* label)
{
    auto parser = vd::VDHTTPDataParser::initWithType(1);
    bool same = false;
    parser->parserData(message, [&](int status, const vd::Bytes& data) { same = status == 2 && data == body; });
    if (!same)
        std::fprintf(stderr, "%s: the parser does not give back the body\n", label);
    return same;
}

void copyWarm(benchmark::State& state, const Inputs* in)
{
    vd::Bytes target(in->body.size());
    for (auto _ : state) {
        std::memcpy(target.data(), in->body.data(), in->body.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in->body.size()));
}

void copyFresh(benchmark::State& state, const Inputs* in)
{
    for (auto _ : state) {
        vd::Bytes target(in->body.begin(), in->body.end());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in->body.size()));
}

void extract(benchmark::State& state, const Inputs* in, const vd::Bytes* message, bool fresh)
{
    auto kept = vd::VDHTTPDataParser::initWithType(1);
    std::size_t got = 0;
    const auto complete = [&got](int, const vd::Bytes& data) { got = data.size(); };
    for (auto _ : state) {
        if (fresh) {
            auto parser = vd::VDHTTPDataParser::initWithType(1);
            parser->parserData(*message, complete);
        } else {
            kept->parserData(*message, complete);
        }
        if (got != in->body.size()) {
            state.SkipWithError("body not extracted");
            break;
        }
        benchmark::DoNotOptimize(got);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in->body.size()));
}

class RecordingReporter : public benchmark::ConsoleReporter {
public:
    using ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0)
                continue;
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

std::string mibPerSecond(std::optional<double> seconds)
{
    if (!seconds || *seconds <= 0)
        return "n/a";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.0f", static_cast<double>(kBodySize) / *seconds / (1024.0 * 1024.0));
    return buffer;
}

// Throughput of the parser over throughput of the copy: the copy's time over the parser's.
std::string ratio(std::optional<double> baseline, std::optional<double> parser, double target)
{
    if (!baseline || !parser || *parser <= 0)
        return "n/a";
    const double value = *baseline / *parser;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2fx (%s %.1fx)", value, value >= target ? "meets" : "MISSES", target);
    return buffer;
}

void printSummary(const RecordingReporter& reporter)
{
    const auto s = [&](const char* name) { return reporter.secondsPerIteration(name); };
    std::printf("\nBody throughput, MiB/s (16 MiB body, chunks of 64 KiB)\n");
    std::printf("%-8s %12s %16s %10s\n", "", "memcpy", "content-length", "chunked");
    std::printf("%-8s %12s %16s %10s\n", "warm", mibPerSecond(s("copy/memcpy/warm")).c_str(),
                mibPerSecond(s("extract/content_length/warm")).c_str(), mibPerSecond(s("extract/chunked/warm")).c_str());
    std::printf("%-8s %12s %16s %10s\n", "fresh", mibPerSecond(s("copy/memcpy/fresh")).c_str(),
                mibPerSecond(s("extract/content_length/fresh")).c_str(), mibPerSecond(s("extract/chunked/fresh")).c_str());

    std::printf("\nRatios of throughput, body parser / memcpy, this run\n");
    std::printf("%-8s %-24s %-24s\n", "", "content-length", "chunked");
    std::printf("%-8s %-24s %-24s\n", "warm", ratio(s("copy/memcpy/warm"), s("extract/content_length/warm"), 0.5).c_str(),
                ratio(s("copy/memcpy/warm"), s("extract/chunked/warm"), 0.5).c_str());
    std::printf("%-8s %-24s %-24s\n", "fresh", ratio(s("copy/memcpy/fresh"), s("extract/content_length/fresh"), 0.5).c_str(),
                ratio(s("copy/memcpy/fresh"), s("extract/chunked/fresh"), 0.5).c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    const Inputs inputs = makeInputs();
    if (!extractsBody(inputs.contentLength, inputs.body, "content-length") || !extractsBody(inputs.chunked, inputs.body, "chunked"))
        return 1;
    std::printf("Inputs: body %zu bytes; content-length message %zu bytes; chunked message %zu bytes\n", inputs.body.size(),
                inputs.contentLength.size(), inputs.chunked.size());
    std::fflush(stdout);

    const Inputs* in = &inputs;
    const auto setUp = [](benchmark::internal::Benchmark* bench) { bench->Unit(benchmark::kMillisecond)->MinTime(0.5); };
    setUp(benchmark::RegisterBenchmark("copy/memcpy/warm", copyWarm, in));
    setUp(benchmark::RegisterBenchmark("extract/content_length/warm", extract, in, &inputs.contentLength, false));
    setUp(benchmark::RegisterBenchmark("extract/chunked/warm", extract, in, &inputs.chunked, false));
    setUp(benchmark::RegisterBenchmark("copy/memcpy/fresh", copyFresh, in));
    setUp(benchmark::RegisterBenchmark("extract/content_length/fresh", extract, in, &inputs.contentLength, true));
    setUp(benchmark::RegisterBenchmark("extract/chunked/fresh", extract, in, &inputs.chunked, true));

    RecordingReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
