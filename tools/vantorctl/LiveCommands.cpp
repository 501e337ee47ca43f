#include <algorithm>
#include <ctime>
#include <deque>

#include <unistd.h>

#include "Commands.h"
#include "Interrupt.h"
#include "Output.h"
#include "RecordOutput.h"
#include "data/VDNotifications.h"

namespace vd::ctl {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Clears the terminal and puts the cursor home, so each refresh replaces the last like top.
constexpr const char* kClearScreen = "\x1b[H\x1b[2J";
// How long one wait may last when nothing has to arrive: the loop looks at the limits in between.
constexpr auto kIdleSlice = 1s;

// When a live command has to stop by itself: after a number of items or a time.
class Limits {
public:
    Limits(std::int64_t count, double seconds)
        : count_(count), deadline_(seconds > 0 ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                                    std::chrono::duration<double>(seconds))
                                               : Clock::time_point::max())
    {
    }
    bool reached(std::int64_t done) const { return (count_ > 0 && done >= count_) || Clock::now() >= deadline_; }
    // How long to wait at most for the next item, given the usual wait.
    std::chrono::milliseconds nextWait(std::chrono::milliseconds usual) const
    {
        if (deadline_ == Clock::time_point::max())
            return usual;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()) + 1ms;
        return std::clamp(left, 0ms, usual);
    }

private:
    std::int64_t count_;
    Clock::time_point deadline_;
};

std::string wallClock()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

// The newest active list, taken where the processor posts it: by the time the main loop
// draws, a later reply may already have replaced the processor's list again.
struct LatestList {
    std::mutex mutex;
    TunnelList tunnels;
};

// UDP records in the order they arrived, handed from the link's queue to the main loop.
struct UdpQueue {
    std::mutex mutex;
    std::deque<std::shared_ptr<const VDUDPTunnelInfo>> records;
};

} // namespace

ExitCode watchTunnels(Session& session, const Options& options, std::ostream& out)
{
    auto& processer = session.processer();
    auto latest = std::make_shared<LatestList>();
    const Arrivals frames(kVDCurrentTunnelRefreshed, [latest, &processer] {
        auto tunnels = processer.currentTunnelInfos();
        std::lock_guard lock(latest->mutex);
        latest->tunnels = std::move(tunnels);
    });
    // The first list at once; the processor's own timer asks for the following ones.
    processer.refreshCurrentRecord();

    const Limits limits(options.count, options.seconds);
    const bool terminal = isatty(STDOUT_FILENO) == 1;
    const auto stall = session.timeout() + std::chrono::milliseconds(static_cast<std::int64_t>(options.interval * 1000));
    std::int64_t shown = 0;
    std::size_t seen = 0;
    while (!limits.reached(shown) && !interrupted()) {
        if (!session.runUntil([&] { return frames.count() > seen; }, limits.nextWait(stall))) {
            if (interrupted() || limits.reached(shown))
                break;
            throw Failure(kExitNoAnswer, "no new list of active tunnels from " + options.target.describe() + " within " +
                                             std::to_string(stall.count()) + " ms");
        }
        seen = frames.count();
        TunnelList tunnels;
        {
            std::lock_guard lock(latest->mutex);
            tunnels = latest->tunnels;
        }
        std::stable_sort(tunnels.begin(), tunnels.end(), [](const auto& a, const auto& b) { return a->id_() < b->id_(); });
        ++shown;
        if (options.json) {
            for (const auto& tunnel : tunnels) {
                auto object = tunnelJson(*tunnel);
                object["frame"] = shown;
                printJsonLine(out, object);
            }
        } else {
            if (terminal)
                out << kClearScreen;
            else if (shown > 1)
                out << '\n';
            out << tunnels.size() << " active tunnels at " << wallClock() << " on " << options.target.describe() << "\n";
            Table table = tunnelTable(false);
            for (const auto& tunnel : tunnels)
                table.addRow(tunnelRow(*tunnel, false));
            table.print(out);
        }
        flushOrFail(out);
    }
    return kExitOk;
}

ExitCode watchUdp(Session& session, const Options& options, std::ostream& out)
{
    auto& processer = session.processer();
    auto queue = std::make_shared<UdpQueue>();
    // Each post announces one record. Taking the list and emptying it in the same callback
    // hands every record over exactly once and keeps the processor's list from growing.
    const Arrivals arrivals(kVDUDPRefreshed, [queue, &processer] {
        const auto newestFirst = processer.udpTunnelInfos();
        processer.cleanUDPRecord();
        std::lock_guard lock(queue->mutex);
        queue->records.insert(queue->records.end(), newestFirst.rbegin(), newestFirst.rend());
    });
    processer.autoUDPRefresh(true);

    // Without --watch: what arrives within a second (or the given time), as one table.
    const double seconds = options.seconds > 0 ? options.seconds : (options.udpWatch ? 0 : 1);
    const Limits limits(options.count, seconds);
    Table table = udpTable();
    const auto widths = udpColumnWidths();
    if (options.udpWatch && !options.json) {
        table.printHeader(out, widths);
        flushOrFail(out);
    }
    const auto waiting = [&] {
        std::lock_guard lock(queue->mutex);
        return !queue->records.empty();
    };
    std::int64_t taken = 0;
    while (!limits.reached(taken) && !interrupted()) {
        session.runUntil(waiting, limits.nextWait(kIdleSlice));
        std::deque<std::shared_ptr<const VDUDPTunnelInfo>> records;
        {
            std::lock_guard lock(queue->mutex);
            records.swap(queue->records);
        }
        for (const auto& record : records) {
            if (limits.reached(taken))
                break;
            ++taken;
            if (options.json)
                printJsonLine(out, udpJson(*record));
            else if (options.udpWatch)
                table.printRow(out, udpRow(*record), widths);
            else
                table.addRow(udpRow(*record));
        }
        if (options.json || options.udpWatch)
            flushOrFail(out);
    }
    if (!options.json && !options.udpWatch)
        table.print(out);
    return kExitOk;
}

} // namespace vd::ctl
