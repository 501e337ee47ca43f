// The client manager's receive path through its real handshake: a manager connects to a socket
// the target plays the service on, and the input is everything the service sends (greeting,
// identity and password answers, then packets), in pieces whose size the first byte picks.
// Then the service closes its end; the manager must report the end at most once and never
// hand over a packet before it has logged in.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <span>

#include "FuzzEnvironment.h"
#include "FuzzPeer.h"
#include "link/QNComClientManager.h"

using namespace std::chrono_literals;

namespace {

struct Reports {
    std::mutex mutex;
    std::condition_variable changed;
    int completions = 0;
    int disconnects = 0;
    int packetsBeforeLogin = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vd::fuzz::setUpFuzzEnvironment();
    static vd::fuzz::FuzzListener service;
    if (size == 0)
        return 0;
    const std::size_t chunk = 1 + data[0] * 16u;

    Reports reports;
    auto manager = vd::QNComClientManager::create();
    manager->setConnectCompleteBlock([&] {
        std::lock_guard lock(reports.mutex);
        ++reports.completions;
    });
    manager->setReceiveBlock([&](vd::QNComPacket&&) {
        std::lock_guard lock(reports.mutex);
        reports.packetsBeforeLogin += reports.completions == 0;
    });
    manager->setDisconnectBlock([&](const std::optional<std::string>&) {
        std::lock_guard lock(reports.mutex);
        ++reports.disconnects;
        reports.changed.notify_all();
    });
    manager->startWithSocketPath(service.path().string());
    const int fd = service.accept(5s);
    if (fd < 0)
        std::abort();
    {
        vd::fuzz::FuzzPeer peer(fd);
        peer.send(std::span(data + 1, size - 1), chunk, nullptr);
        peer.shutdownWrite();
        // A manager past the greeting has a read waiting and notices the close at once. One
        // still waiting for the greeting reads nothing after a wrong first packet, so it may
        // never notice: it is stopped after a moment instead.
        const auto disconnected = [&] { return reports.disconnects > 0; };
        std::unique_lock lock(reports.mutex);
        if (!reports.changed.wait_for(lock, 2ms, disconnected)) {
            lock.unlock();
            const bool greeted = manager->state() > 1;
            lock.lock();
            if (greeted)
                reports.changed.wait_for(lock, 50ms, disconnected);
        }
    }
    manager->stop();
    std::lock_guard lock(reports.mutex);
    if (reports.disconnects > 1 || reports.completions > 1 || reports.packetsBeforeLogin > 0)
        std::abort();
    return 0;
}
