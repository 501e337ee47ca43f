// Records kept across reports: the processor's time per report of active tunnels, when a share
// of the connections are idle and report the text they reported a poll before, beside the bare
// Base64 + simdjson parse of the same report and beside the same processor with no idle share.
//
// The processor's time includes decoding the packet, which is as much work as the bare parse:
// it is printed apart, the floor that reusing records cannot go below.
//
// The reports are the simulator's own (its traffic model at --scale N --idle-share P), a poll
// (four steps) apart, replayed in order through a fresh processor as the link hands them over:
// decoded, then processed. The first report of each replay finds nothing before it and is not
// counted. Every figure is a median of at least five runs, in this thread's CPU time.

#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

#include <nlohmann/json.hpp>

#include "BenchReport.h"
#include "ReportBaseline.h"
#include "TrafficModel.h"
#include "data/VDDataProcesser.h"
#include "link/ReceivedPacket.h"
#include "platform/Log.h"

namespace {

using vd::bench::median;
using vd::bench::threadCpu;

constexpr int kReports = 6;
constexpr int kMinimumRuns = 5;
constexpr double kMinimumSeconds = 1.0;
constexpr double kBareTarget = 0.9;
constexpr double kIdleTarget = 2.0;

struct Reports {
    std::vector<vd::Bytes> wires;
    // Of the texts after the first report, the share its report before held byte for byte.
    double unchangedShare = 0;
};

Reports simulatedReports(std::size_t scale, double idleShare)
{
    vd::sim::ModelOptions options;
    options.scale = scale;
    options.idleShare = idleShare;
    vd::sim::TrafficModel model(options);
    Reports reports;
    std::unordered_set<std::string> before;
    std::size_t texts = 0;
    std::size_t unchanged = 0;
    for (int report = 0; report < kReports; ++report) {
        for (int step = 0; step < 4; ++step)
            model.step();
        auto list = nlohmann::ordered_json::parse("[" + model.activeTexts() + "]");
        std::unordered_set<std::string> now;
        for (const auto& text : list) {
            now.insert(text.get<std::string>());
            if (report > 0) {
                ++texts;
                unchanged += before.contains(text.get_ref<const std::string&>());
            }
        }
        before = std::move(now);
        reports.wires.push_back(vd::bench::currentTunnelsWire(std::move(list)));
    }
    reports.unchangedShare = texts ? static_cast<double>(unchanged) / static_cast<double>(texts) : 0;
    return reports;
}

struct ProcessorTimes {
    // Decoding the packet, as the link does before the processor sees it.
    double decode = 0;
    // Decoding, then the records, client lists and notification.
    double whole = 0;
};

// Seconds per report, each run a replay of all reports through a fresh processor.
ProcessorTimes processorSeconds(const std::vector<vd::Bytes>& wires)
{
    std::vector<double> decodeRuns;
    std::vector<double> wholeRuns;
    const double start = threadCpu();
    while (wholeRuns.size() < kMinimumRuns || threadCpu() - start < kMinimumSeconds) {
        auto processer = vd::VDDataProcesser::create();
        double decode = 0;
        double whole = 0;
        for (std::size_t i = 0; i < wires.size(); ++i) {
            const double before = threadCpu();
            auto received = vd::ReceivedPacket::decode(wires[i]);
            const double decoded = threadCpu();
            processer->processReceived(*received);
            if (i > 0) {
                decode += decoded - before;
                whole += threadCpu() - before;
            }
        }
        const auto counted = static_cast<double>(wires.size() - 1);
        decodeRuns.push_back(decode / counted);
        wholeRuns.push_back(whole / counted);
    }
    return {median(decodeRuns), median(wholeRuns)};
}

// One report's records with every text parsed (through a fresh processor) and with every text
// reused (the same report again), beside its decoding: the two ends between which the idle share
// moves the processor, in seconds per report.
struct TextCosts {
    double decode = 0;
    double parsed = 0;
    double reused = 0;
};

TextCosts textCosts(const vd::Bytes& wire)
{
    std::vector<double> decodeRuns;
    std::vector<double> parsedRuns;
    std::vector<double> reusedRuns;
    const double start = threadCpu();
    while (parsedRuns.size() < kMinimumRuns || threadCpu() - start < kMinimumSeconds) {
        auto processer = vd::VDDataProcesser::create();
        for (auto* runs : {&parsedRuns, &reusedRuns}) {
            const double before = threadCpu();
            auto received = vd::ReceivedPacket::decode(wire);
            const double decoded = threadCpu();
            processer->processReceived(*received);
            runs->push_back(threadCpu() - decoded);
            decodeRuns.push_back(decoded - before);
        }
    }
    return {median(decodeRuns), median(parsedRuns), median(reusedRuns)};
}

// The processor's time per report when a share of the texts changed, by the costs above.
double modelled(const TextCosts& costs, double changedShare, double reusedCost)
{
    return costs.decode + changedShare * costs.parsed + (1 - changedShare) * reusedCost;
}

// Seconds per bare parse of the last report.
double bareSeconds(const vd::Bytes& wire)
{
    std::vector<double> runs;
    for (int run = 0; run < kMinimumRuns; ++run)
        runs.push_back(vd::bench::bareParseSeconds(wire, kMinimumSeconds / kMinimumRuns));
    return median(runs);
}

} // namespace

int main()
{
    // The processor's debug lines would measure the terminal, not the processor.
    vd::log::setSink([](vd::log::Level, std::string_view) {});
    std::printf("Active reports with idle connections: the processor (decode and records) per report, a poll apart,\n"
                "beside the bare parse of the same report and beside the processor with no idle share\n");
    vd::bench::printLoadAverage("before");
    std::printf("%-7s %5s %9s %7s %10s %8s %8s  %-28s %s\n", "tunnels", "idle", "unchanged", "MiB", "processor", "decode",
                "bare", "bare / processor", "against idle share 0");
    struct Ends {
        std::size_t scale;
        TextCosts costs;
        double changedWithoutIdle;
        double changedAtTarget;
    };
    std::vector<Ends> ends;
    for (const std::size_t scale : {std::size_t{1000}, std::size_t{10000}}) {
        double withoutIdle = 0;
        Ends& end = ends.emplace_back(Ends{scale, {}, 0, 0});
        for (const double idleShare : {0.0, 0.3, 0.6}) {
            const Reports reports = simulatedReports(scale, idleShare);
            const ProcessorTimes processor = processorSeconds(reports.wires);
            const double bare = bareSeconds(reports.wires.back());
            if (idleShare == 0) {
                withoutIdle = processor.whole;
                end.costs = textCosts(reports.wires.back());
                end.changedWithoutIdle = 1 - reports.unchangedShare;
            }
            if (idleShare == 0.6)
                end.changedAtTarget = 1 - reports.unchangedShare;
            const bool targeted = idleShare == 0.6;
            std::printf("%-7zu %5.1f %8.0f%% %7.2f %7.2f ms %5.2f ms %5.2f ms  %-28s %s\n", scale, idleShare,
                        reports.unchangedShare * 100, static_cast<double>(reports.wires.back().size()) / vd::bench::kMiB,
                        processor.whole * 1000, processor.decode * 1000, bare * 1000,
                        vd::bench::ratio(bare, processor.whole, targeted ? kBareTarget : 0).c_str(),
                        vd::bench::ratio(withoutIdle, processor.whole, targeted ? kIdleTarget : 0).c_str());
        }
    }
    // How far reusing records can take the idle share's figure: every text is decoded whatever
    // it holds, so even texts reused for nothing leave the decoding and the texts that changed.
    std::printf("\nOne report at idle share 0 with every text parsed, then with every text reused; from those, the\n"
                "processor at idle share 0.6 against 0 as modelled, and as it would be if reused texts cost nothing\n");
    std::printf("%-7s %8s %10s %10s %15s %9s %17s\n", "tunnels", "decode", "parsed", "reused", "reused / parsed",
                "modelled", "reused for free");
    for (const Ends& end : ends) {
        const TextCosts& c = end.costs;
        std::printf("%-7zu %5.2f ms %7.2f ms %7.2f ms %14.1f%% %8.2fx %16.2fx\n", end.scale, c.decode * 1000,
                    c.parsed * 1000, c.reused * 1000, 100 * c.reused / c.parsed,
                    modelled(c, end.changedWithoutIdle, c.reused) / modelled(c, end.changedAtTarget, c.reused),
                    modelled(c, end.changedWithoutIdle, 0) / modelled(c, end.changedAtTarget, 0));
    }
    vd::bench::printLoadAverage("after");
    return 0;
}
