#pragma once

// What every benchmark program here shares: the frame around the runs, the figures of this
// very run by name, and cells for the tables of throughput and ratios printed from them. A
// ratio only means something between figures of one run, on one machine, under one load.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "platform/Numbers.h"

namespace vd::bench {

inline constexpr double kMiB = 1024.0 * 1024.0;
inline constexpr double kMB = 1e6;

// The middle value; of an even count the upper one of the middle two.
inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The load average now, for the figures' reader to judge how busy the machine was.
inline void printLoadAverage(const char* when)
{
    double load[3] = {};
    if (getloadavg(load, 3) == 3)
        std::printf("load average %s: %.2f %.2f %.2f\n", when, load[0], load[1], load[2]);
}

// The console output as usual, plus seconds per iteration kept by name: the function name,
// followed by the argument when there is one ("records/built/1000").
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    // Colour codes only for a terminal; piped into a file the table stays plain text.
    RecordingReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        std::vector<Run> shown;
        for (const auto& run : runs) {
            const bool repeated = run.repetitions > 1;
            if (run.run_type != Run::RT_Iteration || !repeated)
                shown.push_back(run);
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0)
                continue;
            const auto& name = run.run_name;
            auto& figures = figures_[name.args.empty() ? name.function_name : name.function_name + '/' + name.args];
            const auto iterations = static_cast<double>(run.iterations);
            figures.realSeconds.push_back(run.real_accumulated_time / iterations);
            figures.cpuSeconds.push_back(run.cpu_accumulated_time / iterations);
        }
        // Of a repeated benchmark the console shows the mean, median and spread, not every run.
        ConsoleReporter::ReportRuns(shown);
    }

    // Wall-clock seconds per iteration; repetitions are averaged.
    std::optional<double> secondsPerIteration(const std::string& name) const
    {
        const auto it = figures_.find(name);
        if (it == figures_.end())
            return std::nullopt;
        double sum = 0;
        for (const double seconds : it->second.realSeconds)
            sum += seconds;
        return sum / static_cast<double>(it->second.realSeconds.size());
    }

    // The median over repetitions of the measuring thread's CPU seconds per iteration, which
    // other work on a busy machine disturbs far less than the wall clock.
    std::optional<double> medianCpuSecondsPerIteration(const std::string& name) const
    {
        const auto it = figures_.find(name);
        if (it == figures_.end())
            return std::nullopt;
        return median(it->second.cpuSeconds);
    }

private:
    struct Figures {
        std::vector<double> realSeconds;
        std::vector<double> cpuSeconds;
    };
    std::map<std::string, Figures> figures_;
};

// `bytes` per iteration as a whole number of `unit`s per second.
inline std::string throughput(std::optional<double> seconds, std::size_t bytes, double unit = kMiB)
{
    if (!seconds || *seconds <= 0)
        return "n/a";
    return vd::numbers::fixed(static_cast<double>(bytes) / *seconds / unit, 0);
}

// How many times faster the measured code is than its baseline, from their seconds per
// iteration over the same input; with a target, whether it is reached.
inline std::string ratio(std::optional<double> baseline, std::optional<double> measured, double target = 0, int decimals = 2)
{
    if (!baseline || !measured || *measured <= 0)
        return "n/a";
    const double value = *baseline / *measured;
    std::string text = vd::numbers::fixed(value, decimals) + "x";
    if (target > 0) {
        // A target such as 0.25 keeps its second decimal.
        const int targetDecimals = std::round(target * 10) == target * 10 ? 1 : 2;
        text += std::string(" (") + (value >= target ? "meets" : "MISSES") + " " + vd::numbers::fixed(target, targetDecimals) + "x)";
    }
    return text;
}

// The frame of every program here: the command line as Google Benchmark reads it, then
// `prepare` makes the inputs and registers the benchmarks, returning false when an input is
// wrong so that nothing is timed; last the runs, and `summarise` with their figures.
template <typename Prepare, typename Summarise>
int run(int argc, char** argv, Prepare prepare, Summarise summarise)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv) || !prepare())
        return 1;
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    summarise(reporter);
    benchmark::Shutdown();
    return 0;
}

} // namespace vd::bench
