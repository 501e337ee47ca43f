// Throughput of the hex dump behind the body view, over a 16 MiB body, next to two figures from
// the same run:
//  - "memcpy": copying the same 16 MiB into a buffer that already exists, the most any pass
//    over the body can hope for. The dump writes 3.25 bytes per input byte and allocates its
//    text, so a tenth of this is the goal.
//  - "snprintf": one snprintf per byte appended to a string, the obvious way to write it.
//  - "fresh_text": no digits at all, only a new std::string of the dump's length filled with
//    spaces the ordinary way. The dump's output is 3.25 times its input and lives in fresh
//    memory, whose first touch (a page fault per 4 KiB) can cost more than the writing.
// All three count the input bytes, so their bytes/s compare directly.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchReport.h"
#include "data/VDUtils.h"

namespace {

constexpr std::size_t kBodySize = std::size_t{16} << 20;
// Sixteen bytes make a line of 52 characters, after one leading space.
constexpr std::size_t kDumpLength = 1 + kBodySize / 16 * 52;

// A fixed pseudo-random body: every byte value occurs, and no run is the same twice.
const std::vector<std::uint8_t>& body()
{
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> out(kBodySize);
        std::uint64_t state = 0x9E3779B97F4A7C15ull;
        for (auto& byte : out) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            byte = static_cast<std::uint8_t>(state >> 24);
        }
        return out;
    }();
    return bytes;
}

// The same layout as the real dump, one formatted write per byte.
std::string naiveHexString(const std::vector<std::uint8_t>& data)
{
    std::string out = " ";
    char piece[8];
    for (std::size_t k = 1; k <= data.size(); ++k) {
        std::snprintf(piece, sizeof piece, "%02lX ", static_cast<unsigned long>(data[k - 1]));
        out += piece;
        if (k % 16 == 0)
            out += " \n";
        if (k % 8 == 0)
            out += " ";
    }
    return out;
}

void hexTable(benchmark::State& state)
{
    const auto& data = body();
    for (auto _ : state) {
        std::string dump = vd::VDUtils::hexStringOfData(data);
        benchmark::DoNotOptimize(dump.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

void copyMemory(benchmark::State& state)
{
    const auto& data = body();
    std::vector<std::uint8_t> target(data.size());
    for (auto _ : state) {
        std::memcpy(target.data(), data.data(), data.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

void hexSnprintf(benchmark::State& state)
{
    const auto& data = body();
    for (auto _ : state) {
        std::string dump = naiveHexString(data);
        benchmark::DoNotOptimize(dump.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

void freshText(benchmark::State& state)
{
    for (auto _ : state) {
        std::string text(kDumpLength, ' ');
        benchmark::DoNotOptimize(text.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodySize));
}

constexpr const char* kTable = "hex_dump/table";
constexpr const char* kMemcpy = "hex_dump/memcpy";
constexpr const char* kSnprintf = "hex_dump/snprintf_per_byte";
constexpr const char* kFreshText = "hex_dump/fresh_text";

void printSummary(const vd::bench::RecordingReporter& reporter)
{
    using vd::bench::ratio;
    const auto table = reporter.secondsPerIteration(kTable);
    const auto copy = reporter.secondsPerIteration(kMemcpy);
    const auto naive = reporter.secondsPerIteration(kSnprintf);
    const auto fresh = reporter.secondsPerIteration(kFreshText);
    const auto megabytesPerSecond = [](std::optional<double> seconds) {
        return vd::bench::throughput(seconds, kBodySize, vd::bench::kMB);
    };

    std::printf("\nThroughput over the 16 MiB input, MB/s (10^6 bytes)\n");
    std::printf("  %-28s %10s\n", "hexStringOfData (table)", megabytesPerSecond(table).c_str());
    std::printf("  %-28s %10s\n", "memcpy", megabytesPerSecond(copy).c_str());
    std::printf("  %-28s %10s\n", "snprintf per byte", megabytesPerSecond(naive).c_str());
    std::printf("  %-28s %10s\n", "fresh text, no digits", megabytesPerSecond(fresh).c_str());
    std::printf("\nRatio hex dump / memcpy: %s\n", ratio(copy, table, 0.1, 3).c_str());
    std::printf("Ratio hex dump / snprintf per byte: %s\n", ratio(naive, table, 0, 1).c_str());
    std::printf("Ratio hex dump / fresh text of its length: %s\n", ratio(fresh, table).c_str());
}

bool prepare()
{
    // The fast dump must say exactly what the plain one says before its speed means anything.
    // This also makes the input before any timing starts.
    const std::vector<std::uint8_t> sample(body().begin(), body().begin() + 4099);
    if (vd::VDUtils::hexStringOfData(sample) != naiveHexString(sample) || vd::VDUtils::hexStringOfData(body()).size() != kDumpLength) {
        std::fprintf(stderr, "the table-driven dump differs from the snprintf one\n");
        return false;
    }

    benchmark::RegisterBenchmark(kTable, hexTable)->Unit(benchmark::kMillisecond)->MinTime(1.0);
    benchmark::RegisterBenchmark(kMemcpy, copyMemory)->Unit(benchmark::kMillisecond)->MinTime(1.0);
    benchmark::RegisterBenchmark(kFreshText, freshText)->Unit(benchmark::kMillisecond)->MinTime(1.0);
    // Around a second per round; one or two rounds are enough to show the distance.
    benchmark::RegisterBenchmark(kSnprintf, hexSnprintf)->Unit(benchmark::kMillisecond)->MinTime(0.5);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    return vd::bench::run(argc, argv, prepare, printSummary);
}
