// Several main windows in one process, each doing only its own work: the real windows, built
// offscreen, each on a simulated service of its own over a unix socket. One service holds 2,000
// active connections; three hold one idle keep-alive connection each, whose report never
// changes. The GUI thread's CPU time per report of the busy service is measured with the busy
// window alone, and again with the three idle windows open beside it; their ratio should stay
// near 1, since an idle window's report is no reason for the busy window to reload. Printed: the
// median of five rounds, and the load average around the run.

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <QCoreApplication>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include "BenchReport.h"
#include "OffscreenProgram.h"
#include "ServiceSimulator.h"
#include "app/VDMainWindowsController.h"
#include "data/VDDataManager.h"
#include "platform/LargeBuffers.h"
#include "platform/Log.h"

namespace {

using namespace std::chrono_literals;
using Window = vd::VDMainWindowsController;

constexpr std::size_t kBusyConnections = 2000;
constexpr int kIdleWindows = 3;
constexpr int kRounds = 5;
constexpr std::uint64_t kReportsPerRound = 12;
constexpr auto kWait = 30s;

double guiThreadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The simulated services, all served by one thread of their own.
class Services {
public:
    explicit Services(std::string folder) : folder_(std::move(folder)) {}
    ~Services()
    {
        asio::post(context_, [this] {
            for (auto& simulator : simulators_)
                simulator->stop();
        });
        guard_.reset();
        if (thread_.joinable())
            thread_.join();
    }
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;

    // The socket path of a new service holding `scale` connections, a share `idleShare` of
    // them idle.
    std::string add(std::size_t scale, double idleShare)
    {
        vd::sim::SimulatorOptions options;
        const std::string socket = folder_ + "/s" + std::to_string(simulators_.size()) + ".sock";
        options.socketPath = socket;
        options.scale = scale;
        options.idleShare = idleShare;
        simulators_.push_back(std::make_unique<vd::sim::ServiceSimulator>(context_, options, nullptr));
        if (const auto error = simulators_.back()->start()) {
            std::fprintf(stderr, "simulator: %s\n", error->c_str());
            std::exit(1);
        }
        return socket;
    }
    void run()
    {
        thread_ = std::thread([this] { context_.run(); });
    }

private:
    const std::string folder_;
    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> guard_ = asio::make_work_guard(context_);
    std::vector<std::unique_ptr<vd::sim::ServiceSimulator>> simulators_;
    std::thread thread_;
};

std::shared_ptr<vd::VDDataProcesser> processerOf(const Window& window)
{
    return vd::VDDataManager::sharedInstance().getProcesserOfId(window.idString());
}

std::uint64_t reportsOf(const Window& window)
{
    const auto processer = processerOf(window);
    return processer ? processer->activeReportCount() : 0;
}

std::unique_ptr<Window> openWindow(const std::string& socket)
{
    static int count = 0;
    auto window = std::make_unique<Window>("BENCH-" + std::to_string(++count));
    window->loadWindow();
    window->showWindow();
    window->openLocalWindow(socket);
    window->selectControl(Window::ActiveConnections);
    // Warm: connected, and its first reports shown.
    if (!vd::bench::runEventsUntil([&] { return reportsOf(*window) >= 2; }, kWait)) {
        std::fprintf(stderr, "a window got no reports\n");
        std::exit(1);
    }
    return window;
}

// The GUI thread's CPU time per report of the busy window's service, over the next reports.
double guiSecondsPerReport(const Window& busy)
{
    const std::uint64_t first = reportsOf(busy);
    const double start = guiThreadSeconds();
    if (!vd::bench::runEventsUntil([&] { return reportsOf(busy) >= first + kReportsPerRound; }, kWait)) {
        std::fprintf(stderr, "the busy service stopped reporting\n");
        std::exit(1);
    }
    return (guiThreadSeconds() - start) / static_cast<double>(kReportsPerRound);
}

} // namespace

int main(int argc, char** argv)
{
    vd::returnLargeBuffersToTheSystem();
    vd::log::setSink([](vd::log::Level, std::string_view) {});
    vd::bench::OffscreenProgram program(argc, argv);

    Services services(program.folder());
    const std::string busySocket = services.add(kBusyConnections, 0);
    std::vector<std::string> idleSockets;
    for (int i = 0; i < kIdleWindows; ++i)
        idleSockets.push_back(services.add(1, 1.0));
    services.run();

    std::printf("GUI-thread CPU per report of a %zu-connection service: its window alone, and beside %d windows "
                "on idle services\n",
                kBusyConnections, kIdleWindows);
    vd::bench::printLoadAverage("before");
    auto busy = openWindow(busySocket);
    std::vector<double> alone;
    std::vector<double> beside;
    std::vector<double> ratios;
    for (int round = 0; round < kRounds; ++round) {
        // Every other round measures the four windows first, so a drift of the machine's load
        // weighs on both sides alike.
        const bool alternate = round % 2 == 1;
        if (!alternate)
            alone.push_back(guiSecondsPerReport(*busy));
        std::vector<std::unique_ptr<Window>> idle;
        for (const auto& socket : idleSockets)
            idle.push_back(openWindow(socket));
        beside.push_back(guiSecondsPerReport(*busy));
        idle.clear();
        // Their deferred deletes and the busy window's first report without them go unmeasured.
        const std::uint64_t closedAt = reportsOf(*busy);
        vd::bench::runEventsUntil([&] { return reportsOf(*busy) > closedAt; }, kWait);
        if (alternate)
            alone.push_back(guiSecondsPerReport(*busy));
        ratios.push_back(beside.back() / alone.back());
        std::printf("  round %d: alone %.2f ms, four windows %.2f ms, %.2fx\n", round + 1, alone.back() * 1000,
                    beside.back() * 1000, ratios.back());
    }
    busy.reset();
    QCoreApplication::processEvents();
    const double ratio = vd::bench::median(ratios);
    std::printf("median: alone %.2f ms, four windows %.2f ms per report; four / alone %.2fx (%s 1.2x)\n",
                vd::bench::median(alone) * 1000, vd::bench::median(beside) * 1000, ratio, ratio <= 1.2 ? "meets" : "MISSES");
    vd::bench::printLoadAverage("after");
    return 0;
}
