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
// After the benchmarks the ratios of throughput are printed.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchReport.h"
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

void printSummary(const vd::bench::RecordingReporter& reporter)
{
    constexpr std::array<const char*, 2> kModes{"warm", "fresh"};
    const auto seconds = [&](const char* contender, const char* mode) {
        return reporter.secondsPerIteration(std::string(contender) + '/' + mode);
    };
    const auto mibPerSecond = [&](const char* contender, const char* mode) {
        return vd::bench::throughput(seconds(contender, mode), kBodySize);
    };
    // Throughput of the parser over throughput of the copy.
    const auto ratio = [&](const char* contender, const char* mode) {
        return vd::bench::ratio(seconds("copy/memcpy", mode), seconds(contender, mode), 0.5);
    };

    std::printf("\nBody throughput, MiB/s (16 MiB body, chunks of 64 KiB)\n");
    std::printf("%-8s %12s %16s %10s\n", "", "memcpy", "content-length", "chunked");
    for (const char* mode : kModes) {
        std::printf("%-8s %12s %16s %10s\n", mode, mibPerSecond("copy/memcpy", mode).c_str(),
                    mibPerSecond("extract/content_length", mode).c_str(), mibPerSecond("extract/chunked", mode).c_str());
    }

    std::printf("\nRatios of throughput, body parser / memcpy, this run\n");
    std::printf("%-8s %-24s %-24s\n", "", "content-length", "chunked");
    for (const char* mode : kModes)
        std::printf("%-8s %-24s %-24s\n", mode, ratio("extract/content_length", mode).c_str(), ratio("extract/chunked", mode).c_str());
}

bool prepare(Inputs& inputs)
{
    inputs = makeInputs();
    if (!extractsBody(inputs.contentLength, inputs.body, "content-length") || !extractsBody(inputs.chunked, inputs.body, "chunked"))
        return false;
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
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Inputs inputs;
    return vd::bench::run(argc, argv, [&] { return prepare(inputs); }, printSummary);
}
