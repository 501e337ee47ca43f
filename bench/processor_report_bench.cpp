// The processor at work, end to end in one process: the simulated service holds N active
// connections and the processor polls it every second over a real unix socket, as a window
// does. Measured over a few seconds:
//  - the processor's CPU time per report: decoding, building records and client lists, and
//    notifying, timed in one thread over the reports the run received, in their order;
//  - the process's CPU time per report less the simulator thread's, which adds reading the
//    socket and the link's thread hand-offs: the median of five windows of five reports;
//  - the resident memory of the process;
//  - next to it, between those windows, a bare Base64 + simdjson parse of one such report.

#include <pthread.h>
#include <time.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <tuple>
#include <memory>
#include <thread>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include "BenchReport.h"
#include "ReportBaseline.h"
#include "ServiceSimulator.h"
#include "data/VDDataProcesser.h"
#include "data/VDNotifications.h"
#include "data/VDTunnelInfo.h"
#include "link/ReceivedPacket.h"
#include "platform/LargeBuffers.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"

namespace {

using namespace std::chrono_literals;
using vd::bench::bareParseSeconds;
using vd::bench::threadCpu;

constexpr std::size_t kReplayedReports = 6;
constexpr int kWindows = 5;
// The recent list is polled every fifth report.
constexpr int kWindowReports = 5;

double seconds(const timespec& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double processCpu()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return seconds(t);
}

double residentMiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Where a report's time goes, in this thread: decoding the packet, and the processor's handling
// of it (records, client lists, notification). The run's reports are replayed in their order
// through a fresh processor, so each finds the records of the one before it as it would live;
// the first of each replay, with nothing before it, is not counted.
std::pair<double, double> breakdownSeconds(const std::vector<vd::Bytes>& wires)
{
    double decode = 0;
    double handle = 0;
    int rounds = 0;
    while (rounds < 3 || decode + handle < 1.0) {
        auto processer = vd::VDDataProcesser::create();
        for (std::size_t i = 0; i < wires.size(); ++i) {
            const double start = threadCpu(pthread_self());
            // As the link hands a packet over: decoded, then given to the processor.
            auto received = vd::ReceivedPacket::decode(wires[i]);
            const double decoded = threadCpu(pthread_self());
            processer->processReceived(*received);
            if (i == 0)
                continue;
            handle += threadCpu(pthread_self()) - decoded;
            decode += decoded - start;
            ++rounds;
        }
    }
    return {decode / rounds, handle / rounds};
}

struct Figures {
    double cpuPerReport = 0;
    double barePerReport = 0;
    double decodePerReport = 0;
    double handlePerReport = 0;
    double residentMiB = 0;
    std::size_t reportBytes = 0;
    int reports = 0;
};

// A report of these records as the service sends it.
vd::Bytes wireOf(const vd::TunnelList& tunnels)
{
    nlohmann::ordered_json texts = nlohmann::ordered_json::array();
    for (const auto& tunnel : tunnels)
        texts.push_back(tunnel->rawData());
    return vd::bench::currentTunnelsWire(std::move(texts));
}

Figures measure(std::size_t scale)
{
    const std::string socket = "/tmp/vd-bench-" + std::to_string(getpid()) + ".sock";
    asio::io_context context;
    auto guard = asio::make_work_guard(context);
    vd::sim::SimulatorOptions options;
    options.socketPath = socket;
    options.scale = scale;
    vd::sim::ServiceSimulator simulator(context, options, nullptr);
    if (const auto error = simulator.start()) {
        std::fprintf(stderr, "simulator: %s\n", error->c_str());
        return {};
    }
    std::thread simulatorThread([&] { context.run(); });

    vd::MainLoop loop;
    vd::VDDumpDataManager::setUpDumpFolderIn(std::nullopt);
    auto processer = vd::VDDataProcesser::create();
    std::atomic<int> reports{0};
    std::atomic<bool> capturing{false};
    std::vector<vd::TunnelList> reported;
    // Notifications come on the processor's thread; as a window's would, this one hands each
    // over to the main thread, where it is counted.
    auto token = vd::NotificationCenter::defaultCenter()->addObserver(vd::kVDCurrentTunnelRefreshed, nullptr,
                                                                      [&](const vd::Notification&) {
                                                                          vd::MainQueue::shared()->async([&] {
                                                                              ++reports;
                                                                              if (capturing)
                                                                                  reported.push_back(processer->currentTunnelInfos());
                                                                          });
                                                                      });
    processer->connectToSocketPath(socket);
    // Warm up: the first reports fill the caches and the icon requests.
    loop.runUntil([&] { return reports >= 2; }, 30s);

    Figures figures;
    figures.residentMiB = residentMiB();

    // One report to set the process against, taken at once.
    capturing = true;
    loop.runUntil([&] { return !reported.empty(); }, 30s);
    capturing = false;
    const vd::Bytes bareWire = wireOf(reported.front());
    reported.clear();

    // Each window runs from one report's notification to the one kWindowReports later, so it
    // holds exactly those reports' work and one poll of the recent list. Between windows, in
    // the second before the next report, this thread times the bare parse, so that both figures
    // are medians over the same stretch of the run.
    std::vector<double> processRuns;
    std::vector<double> bareRuns;
    for (int window = 0; window < kWindows; ++window) {
        const int first = reports;
        const double cpuBefore = processCpu();
        const double simulatorBefore = threadCpu(simulatorThread.native_handle());
        // Counted as the notifications come as tasks: the loop sleeps between them.
        loop.runUntil([&] { return reports >= first + kWindowReports; }, 60s, vd::MainLoop::Changes::byTasks);
        const double simulatorCpu = threadCpu(simulatorThread.native_handle()) - simulatorBefore;
        const int windowReports = reports - first;
        if (windowReports > 0)
            processRuns.push_back((processCpu() - cpuBefore - simulatorCpu) / windowReports);
        figures.reports += windowReports;
        bareRuns.push_back(bareParseSeconds(bareWire, 0.2));
        const int now = reports;
        loop.runUntil([&] { return reports > now; }, 30s);
    }
    figures.cpuPerReport = processRuns.empty() ? 0 : vd::bench::median(processRuns);
    figures.barePerReport = vd::bench::median(bareRuns);
    figures.reportBytes = bareWire.size();

    // A few more reports, replayed below in this thread.
    capturing = true;
    loop.runUntil([&] { return reported.size() >= kReplayedReports; }, 30s);
    capturing = false;
    std::vector<vd::Bytes> wires;
    for (const auto& tunnels : reported)
        wires.push_back(wireOf(tunnels));
    if (wires.size() >= 2)
        std::tie(figures.decodePerReport, figures.handlePerReport) = breakdownSeconds(wires);

    processer->disconnect();
    token.reset();
    asio::post(context, [&] { simulator.stop(); });
    guard.reset();
    simulatorThread.join();
    return figures;
}

} // namespace

int main()
{
    // As the dashboard runs it.
    vd::returnLargeBuffersToTheSystem();
    // The processor's debug lines would measure the terminal, not the processor.
    vd::log::setSink([](vd::log::Level, std::string_view) {});
    std::printf("Processor per report, polled every second over a unix socket\n"
                "  processor: decoding, records, client lists and notification, over the run's reports in order\n"
                "  process:   all CPU of the process less the simulator's, socket reading and the link's threads included\n");
    std::printf("%-7s %7s %7s %10s %10s %8s %7s %s\n", "tunnels", "reports", "MiB", "processor", "process", "bare", "RSS",
                "bare / processor (bare / process, the target)");
    for (const std::size_t scale : {std::size_t{1000}, std::size_t{10000}}) {
        const Figures f = measure(scale);
        const double processor = f.decodePerReport + f.handlePerReport;
        const double ratio = processor > 0 ? f.barePerReport / processor : 0;
        const double processRatio = f.cpuPerReport > 0 ? f.barePerReport / f.cpuPerReport : 0;
        std::printf("%-7zu %7d %7.2f %7.2f ms %7.2f ms %5.2f ms %3.0f MiB %.2fx (%.2fx) %s 0.4x\n", scale, f.reports,
                    static_cast<double>(f.reportBytes) / (1024.0 * 1024.0), processor * 1000, f.cpuPerReport * 1000,
                    f.barePerReport * 1000, f.residentMiB, ratio, processRatio, processRatio >= 0.4 ? "meets" : "MISSES");
        std::printf("        processor = decode %.2f ms + records and clients %.2f ms\n", f.decodePerReport * 1000,
                    f.handlePerReport * 1000);
    }
    return 0;
}
