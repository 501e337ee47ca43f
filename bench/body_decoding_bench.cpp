// The two costs of showing a large compressed JSON body readably, each next to its bare limit
// in the same run:
//  - gzip decoding of a 16 MiB body by decodeContent (streamed, capped, regrowing its output)
//    against a plain zlib inflate loop with gzip framing over the same bytes;
//  - pretty-printing the 16 MiB of JSON (validation by simdjson, then the re-indenting pass)
//    against a bare simdjson parse of the same text with a warm parser, and against the same
//    parse made once, with its own parser and padded copy.
// After the benchmarks the ratios of throughput are printed with their targets.

#include <cstdio>
#include <string>

#include <benchmark/benchmark.h>
#include <simdjson.h>
#include <zlib.h>

#include "BenchReport.h"
#include "BodyEncoders.h"
#include "data/ContentDecoding.h"
#include "data/PrettyBody.h"

namespace {

constexpr std::size_t kBodySize = 16u << 20;

struct Inputs {
    std::string json;
    vd::Bytes gzipped;
};

// An API's answer: records with names, numbers of every shape, nesting and escapes.
std::string makeJson()
{
    std::string json = "{\"items\":[";
    for (int i = 0; json.size() < kBodySize - 512; ++i) {
        if (i > 0)
            json += ',';
        json += "{\"id\":" + std::to_string(i) + ",\"name\":\"Item " + std::to_string(i * 7919 % 100003) +
                " \\\"special\\\" caf\\u00e9\",\"price\":" + std::to_string(i % 1000) + '.' + std::to_string(i % 97) +
                ",\"ratio\":-1.25e-" + std::to_string(i % 9) + ",\"tags\":[\"alpha\",\"beta\",\"g" + std::to_string(i % 13) +
                "\"],\"active\":" + (i % 3 ? "true" : "false") + ",\"owner\":{\"id\":" + std::to_string(i % 5000) +
                ",\"email\":\"user" + std::to_string(i % 5000) + "@example.com\",\"groups\":[]},\"note\":null}";
    }
    json += "],\"count\":0}";
    return json;
}

vd::Bytes plainInflate(const vd::Bytes& gzipped)
{
    z_stream stream{};
    inflateInit2(&stream, 16 + MAX_WBITS);
    stream.next_in = const_cast<Bytef*>(gzipped.data());
    stream.avail_in = static_cast<uInt>(gzipped.size());
    vd::Bytes out;
    unsigned char chunk[256 * 1024];
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = chunk;
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - stream.avail_out));
    }
    inflateEnd(&stream);
    return out;
}

void inflateLoop(benchmark::State& state, const Inputs* in)
{
    for (auto _ : state) {
        const vd::Bytes out = plainInflate(in->gzipped);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in->json.size()));
}

void decodeGzip(benchmark::State& state, const Inputs* in)
{
    for (auto _ : state) {
        const auto decoded = vd::decodeContent(in->gzipped, "gzip");
        benchmark::DoNotOptimize(decoded.bytes.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in->json.size()));
}

void simdjsonParse(benchmark::State& state, const Inputs* in)
{
    const simdjson::padded_string padded(in->json);
    simdjson::dom::parser parser;
    for (auto _ : state) {
        const auto error = parser.parse(padded).error();
        benchmark::DoNotOptimize(error);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in->json.size()));
}

// The same parse as a caller makes it once: a padded copy and a parser of its own, whose first
// touch of fresh memory is much of the cost on a large text.
void simdjsonParseOnce(benchmark::State& state, const Inputs* in)
{
    for (auto _ : state) {
        const simdjson::padded_string padded(in->json);
        simdjson::dom::parser parser;
        const auto error = parser.parse(padded).error();
        benchmark::DoNotOptimize(error);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in->json.size()));
}

void prettyJson(benchmark::State& state, const Inputs* in)
{
    for (auto _ : state) {
        const auto pretty = vd::prettyJson(in->json);
        benchmark::DoNotOptimize(pretty.text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in->json.size()));
}

void printSummary(const vd::bench::RecordingReporter& reporter, const Inputs& in)
{
    const auto seconds = [&](const char* name) { return reporter.secondsPerIteration(name); };
    const auto mibPerSecond = [&](const char* name) { return vd::bench::throughput(seconds(name), in.json.size()); };
    std::printf("\nThroughput over the plain JSON, MiB/s (%zu bytes, %zu gzipped)\n", in.json.size(), in.gzipped.size());
    std::printf("  inflate loop %8s   decodeContent %8s\n", mibPerSecond("gzip/inflate_loop").c_str(), mibPerSecond("gzip/decodeContent").c_str());
    std::printf("  simdjson     %8s   one-shot      %8s   prettyJson %8s\n", mibPerSecond("json/simdjson_parse").c_str(),
                mibPerSecond("json/simdjson_parse_once").c_str(), mibPerSecond("json/prettyJson").c_str());
    std::printf("\nRatios of throughput, this run\n");
    std::printf("  decodeContent / inflate loop:  %s\n",
                vd::bench::ratio(seconds("gzip/inflate_loop"), seconds("gzip/decodeContent"), 0.8).c_str());
    std::printf("  prettyJson / simdjson parse:   %s\n",
                vd::bench::ratio(seconds("json/simdjson_parse"), seconds("json/prettyJson"), 0.25).c_str());
    std::printf("  prettyJson / one-shot parse:   %s  (a fresh parser and padded copy per parse)\n",
                vd::bench::ratio(seconds("json/simdjson_parse_once"), seconds("json/prettyJson")).c_str());
}

bool prepare(Inputs& in)
{
    in.json = makeJson();
    const vd::Bytes plain(in.json.begin(), in.json.end());
    in.gzipped = vd::sim::gzipOf(plain);
    if (vd::decodeContent(in.gzipped, "gzip").bytes != plain || plainInflate(in.gzipped) != plain) {
        std::fprintf(stderr, "the gzipped body does not decode to the JSON\n");
        return false;
    }
    if (!vd::prettyJson(in.json).problem.empty()) {
        std::fprintf(stderr, "the JSON is not valid\n");
        return false;
    }
    const Inputs* inputs = &in;
    const auto setUp = [](benchmark::internal::Benchmark* bench) { bench->Unit(benchmark::kMillisecond)->MinTime(1.0); };
    setUp(benchmark::RegisterBenchmark("gzip/inflate_loop", inflateLoop, inputs));
    setUp(benchmark::RegisterBenchmark("gzip/decodeContent", decodeGzip, inputs));
    setUp(benchmark::RegisterBenchmark("json/simdjson_parse", simdjsonParse, inputs));
    setUp(benchmark::RegisterBenchmark("json/simdjson_parse_once", simdjsonParseOnce, inputs));
    setUp(benchmark::RegisterBenchmark("json/prettyJson", prettyJson, inputs));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Inputs inputs;
    return vd::bench::run(argc, argv, [&] { return prepare(inputs); },
                          [&](const vd::bench::RecordingReporter& reporter) { printSummary(reporter, inputs); });
}
