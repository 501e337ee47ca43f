// Several main windows in one process, each doing only its own work: the real windows, built
// offscreen, each on a simulated service of its own over a unix socket. One service holds 2,000
// active connections; three hold one idle keep-alive connection each, whose report never
// changes. The GUI thread's CPU time per report of the busy service is measured with the busy
// window alone, and again with the three idle windows open beside it; their ratio should stay
// near 1, since an idle window's report is no reason for the busy window to reload. Printed: the
// median of five rounds, and the load average around the run.

#include <time.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include "ServiceSimulator.h"
#include "app/VDMainWindowsController.h"
#include "data/VDDataManager.h"
#include "data/VDDumpDataManager.h"
#include "platform/LargeBuffers.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "platform/WorkPool.h"

namespace {

using namespace std::chrono_literals;
using Window = vd::VDMainWindowsController;

constexpr std::size_t kBusyConnections = 2000;
constexpr int kIdleWindows = 3;
constexpr int kRounds = 5;
constexpr std::uint64_t kReportsPerRound = 12;

double guiThreadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string loadAverage()
{
    double load[3] = {};
    if (getloadavg(load, 3) != 3)
        return "n/a";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", load[0], load[1], load[2]);
    return text;
}

// The simulated services, all served by one thread of their own.
class Services {
public:
    explicit Services(const QString& folder) : folder_(folder.toStdString()) {}
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

// Runs the event loop until the condition holds; false when it did not within the limit.
bool runUntil(const std::function<bool()>& condition, std::chrono::seconds limit = 30s)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > std::chrono::milliseconds(limit).count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(1ms);
    }
    return true;
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
    if (!runUntil([&] { return reportsOf(*window) >= 2; })) {
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
    if (!runUntil([&] { return reportsOf(busy) >= first + kReportsPerRound; })) {
        std::fprintf(stderr, "the busy service stopped reporting\n");
        std::exit(1);
    }
    return (guiThreadSeconds() - start) / static_cast<double>(kReportsPerRound);
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    vd::returnLargeBuffersToTheSystem();
    vd::log::setSink([](vd::log::Level, std::string_view) {});
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform's notes on every window shown would bury the figures.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    // Settings, caches and dump files of a run of its own, never the user's.
    QTemporaryDir home;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    setenv("XDG_CACHE_HOME", (home.path() + "/caches").toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    vd::MainQueue::install([](vd::Task task) { QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection); });
    vd::VDDumpDataManager::setUpDumpFolderIn(home.path().toStdString());

    Services services(home.path());
    const std::string busySocket = services.add(kBusyConnections, 0);
    std::vector<std::string> idleSockets;
    for (int i = 0; i < kIdleWindows; ++i)
        idleSockets.push_back(services.add(1, 1.0));
    services.run();

    std::printf("GUI-thread CPU per report of a %zu-connection service: its window alone, and beside %d windows "
                "on idle services\n",
                kBusyConnections, kIdleWindows);
    std::printf("load average before: %s\n", loadAverage().c_str());
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
        runUntil([&] { return reportsOf(*busy) > closedAt; });
        if (alternate)
            alone.push_back(guiSecondsPerReport(*busy));
        ratios.push_back(beside.back() / alone.back());
        std::printf("  round %d: alone %.2f ms, four windows %.2f ms, %.2fx\n", round + 1, alone.back() * 1000,
                    beside.back() * 1000, ratios.back());
    }
    busy.reset();
    QCoreApplication::processEvents();
    const double ratio = median(ratios);
    std::printf("median: alone %.2f ms, four windows %.2f ms per report; four / alone %.2fx (%s 1.2x)\n",
                median(alone) * 1000, median(beside) * 1000, ratio, ratio <= 1.2 ? "meets" : "MISSES");
    std::printf("load average after: %s\n", loadAverage().c_str());
    vd::WorkPool::stopThreads();
    vd::MainQueue::uninstall();
    return 0;
}
