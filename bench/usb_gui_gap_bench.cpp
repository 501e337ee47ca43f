// A main window following a service of 5,000 active connections over USB, with the USB daemon
// and the service simulated in this process: how long the GUI thread is kept from its event
// loop. A timer on the GUI thread ticks every 5 ms; a tick that comes late tells how long the
// thread was busy elsewhere. Printed for the window shown (Active Connections in view) and for
// the window hidden, where only the link and the processor are left to hold the thread.

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include "BenchReport.h"
#include "OffscreenProgram.h"
#include "ServiceSimulator.h"
#include "UsbmuxSimulator.h"
#include "app/VDMainWindowsController.h"
#include "app/WindowId.h"
#include "data/VDNotifications.h"
#include "link/ServiceContract.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"

namespace {

using namespace std::chrono_literals;

constexpr std::size_t kScale = 5000;
constexpr std::uint32_t kDevice = 7;
constexpr std::int64_t kEnteredPort = 6170;
constexpr auto kTick = 5ms;
constexpr auto kMeasured = 15s;

struct Gaps {
    double longestMs = 0;
    double p99Ms = 0;
    int reports = 0;
};

// Runs the event loop for `duration`, timing the ticks of a 5 ms timer.
Gaps measureGaps(std::chrono::milliseconds duration, const std::atomic<int>& reports)
{
    std::vector<double> lateness;
    QElapsedTimer sinceTick;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(kTick);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const double ms = static_cast<double>(sinceTick.nsecsElapsed()) / 1e6;
        sinceTick.restart();
        lateness.push_back(std::max(0.0, ms - static_cast<double>(kTick.count())));
    });
    const int reportsBefore = reports;
    sinceTick.start();
    timer.start();
    vd::bench::runEventsFor(duration);
    timer.stop();
    Gaps gaps;
    gaps.reports = reports - reportsBefore;
    if (lateness.empty())
        return gaps;
    std::sort(lateness.begin(), lateness.end());
    gaps.longestMs = lateness.back();
    gaps.p99Ms = lateness[lateness.size() * 99 / 100];
    return gaps;
}

} // namespace

int main(int argc, char** argv)
{
    vd::log::setSink([](vd::log::Level, std::string_view) {});
    vd::bench::OffscreenProgram program(argc, argv);
    const std::string folder = program.folder();
    setenv("USBMUXD_SOCKET_ADDRESS", (folder + "/mux").c_str(), 1);

    asio::io_context context;
    auto guard = asio::make_work_guard(context);
    vd::sim::SimulatorOptions options;
    options.socketPath = folder + "/service";
    options.scale = kScale;
    vd::sim::ServiceSimulator service(context, options, nullptr);
    vd::sim::UsbmuxSimulator mux(context, folder + "/mux");
    if (const auto error = service.start()) {
        std::fprintf(stderr, "simulator: %s\n", error->c_str());
        return 1;
    }
    if (const auto error = mux.start()) {
        std::fprintf(stderr, "usbmux simulator: %s\n", error->c_str());
        return 1;
    }
    mux.forwardPort(kDevice, kEnteredPort + 1, *options.socketPath);
    mux.attach(kDevice);
    std::thread simulators([&] { context.run(); });

    std::atomic<int> reports{0};
    const auto counting = vd::NotificationCenter::defaultCenter()->addObserver(
        vd::kVDCurrentTunnelRefreshed, nullptr, [&](const vd::Notification&) { ++reports; });
    const auto id = vd::WindowId::usb(kEnteredPort, vd::contract::kLocalPassword);
    int status = 0;
    {
        vd::VDMainWindowsController window(id.idString);
        window.loadWindow();
        window.showWindow();
        window.openRemoteWindowWithUSBPort(kEnteredPort, vd::contract::kLocalPassword);
        if (!vd::bench::runEventsUntil([&] { return reports >= 3; }, 60s)) {
            std::fprintf(stderr, "no reports over USB\n");
            status = 1;
        } else {
            std::printf("GUI thread over USB, %zu active connections, a 5 ms timer on the GUI thread\n", kScale);
            vd::bench::printLoadAverage("before");
            std::printf("%-8s %8s %12s %10s\n", "window", "reports", "longest gap", "99th pct");
            for (const bool shown : {true, false}) {
                window.window()->setVisible(shown);
                const Gaps gaps = measureGaps(kMeasured, reports);
                std::printf("%-8s %8d %9.1f ms %7.1f ms\n", shown ? "shown" : "hidden", gaps.reports, gaps.longestMs, gaps.p99Ms);
            }
            vd::bench::printLoadAverage("after");
        }
    }
    asio::post(context, [&] {
        mux.stop();
        service.stop();
    });
    guard.reset();
    simulators.join();
    return status;
}
