// The traffic panel with a busy service's load, offscreen: a report of 10,000 active tunnels
// reaches the panel as two speed sums and two growth maps, about 200 clients and 2,000 hosts.
// With a full ten minutes already held (the ring full, every minute's bucket filled), the
// GUI-thread time per report of:
//  - addReport alone (the ring, the buckets and their running sums, the top five picked);
//  - addReport and the repaint the event loop then does (the plot and the stacks' rows only);
//  - addReport and a full render of the panel into an image, the baseline: what drawing the
//    whole panel on every report would cost.
// The target is 1 ms of GUI thread per report.

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <QApplication>
#include <QImage>

#include "BenchReport.h"
#include "views/VDTrafficHistory.h"
#include "views/VDTrafficPanel.h"

namespace {

using namespace vd;

constexpr int kTunnels = 10000;
constexpr int kClients = 200;
constexpr int kHosts = 2000;
// A minute of distinct reports, replayed with the clock moving on.
constexpr int kDistinctReports = 60;
constexpr double kTargetMs = 1.0;

// Each tunnel belongs to one client and one host and moved up to 64 KB since the last report.
std::vector<TrafficSample> makeReports()
{
    std::mt19937_64 random(22);
    std::uniform_int_distribution<int> client(0, kClients - 1);
    std::uniform_int_distribution<int> host(0, kHosts - 1);
    std::uniform_int_distribution<std::int64_t> bytes(0, 64 * 1024);
    std::vector<TrafficSample> reports(kDistinctReports);
    for (TrafficSample& report : reports) {
        for (int tunnel = 0; tunnel < kTunnels; ++tunnel) {
            const std::int64_t up = bytes(random) / 4;
            const std::int64_t down = bytes(random);
            report.upload += up;
            report.download += down;
            report.clientGrowth["com.example.client" + std::to_string(client(random))] += up + down;
            report.hostGrowth["host" + std::to_string(host(random)) + ".example.com"] += up + down;
        }
    }
    return reports;
}

struct Fixture {
    std::vector<TrafficSample> reports = makeReports();
    VDTrafficPanel panel;
    double clock = 0;

    Fixture()
    {
        panel.resize(1000, 450);
        panel.show();
        while (clock < VDTrafficHistory::kWindowSeconds)
            addNext();
        QCoreApplication::processEvents();
    }
    void addNext()
    {
        TrafficSample& report = reports[static_cast<std::size_t>(clock) % reports.size()];
        report.time = clock++;
        panel.addReport(report);
    }
};

Fixture* fixture = nullptr;

void addOnly(benchmark::State& state)
{
    for (auto _ : state)
        fixture->addNext();
    QCoreApplication::processEvents();
}

void addAndRepaint(benchmark::State& state)
{
    for (auto _ : state) {
        fixture->addNext();
        QCoreApplication::processEvents();
    }
}

void addAndRenderAll(benchmark::State& state)
{
    QImage image(fixture->panel.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        fixture->addNext();
        fixture->panel.render(&image);
    }
    QCoreApplication::processEvents();
}

void printFigures(const bench::RecordingReporter& reporter)
{
    const auto ms = [&](const char* name) {
        const auto seconds = reporter.secondsPerIteration(name);
        return seconds ? vd::numbers::fixed(*seconds * 1e3, 3) + " ms" : std::string("n/a");
    };
    std::printf("\nGUI thread per report, %d active tunnels (%d clients, %d hosts), ten minutes held\n", kTunnels, kClients, kHosts);
    std::printf("  addReport alone                  %s\n", ms("report/add").c_str());
    std::printf("  addReport and its repaint        %s\n", ms("report/add_repaint").c_str());
    std::printf("  addReport and the whole panel    %s\n", ms("report/add_render_all").c_str());
    if (const auto measured = reporter.secondsPerIteration("report/add_repaint"))
        std::printf("  against the %.0f ms target: %s\n", kTargetMs, *measured * 1e3 <= kTargetMs ? "meets" : "MISSES");
    std::printf("  partial repaint beside drawing the whole panel: %s faster\n",
                bench::ratio(reporter.secondsPerIteration("report/add_render_all"), reporter.secondsPerIteration("report/add_repaint")).c_str());
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Fixture made;
    fixture = &made;
    const auto unit = benchmark::kMillisecond;
    return bench::run(argc, argv, [&] {
        benchmark::RegisterBenchmark("report/add", addOnly)->Iterations(300)->Unit(unit);
        benchmark::RegisterBenchmark("report/add_repaint", addAndRepaint)->Iterations(300)->Unit(unit);
        benchmark::RegisterBenchmark("report/add_render_all", addAndRenderAll)->Iterations(300)->Unit(unit);
        return true;
    }, printFigures);
}
