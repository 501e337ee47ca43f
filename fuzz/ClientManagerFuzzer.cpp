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
#include <memory>
#include <mutex>
#include <span>

#include "FuzzEnvironment.h"
#include "FuzzPeer.h"
#include "link/QNComClientManager.h"

using namespace std::chrono_literals;

namespace {

// Shared with the callbacks, so one that broke the promise of stop() (no callback once it has
// returned) finds live memory and is counted instead of corrupting a finished run.
struct Reports {
    std::mutex mutex;
    std::condition_variable changed;
    int completions = 0;
    int disconnects = 0;
    int packetsBeforeLogin = 0;
    bool stopped = false;
    int afterStop = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vd::fuzz::setUpFuzzEnvironment();
    static vd::fuzz::FuzzListener service;
    if (size == 0)
        return 0;
    const std::size_t chunk = 1 + data[0] * 16u;

    static std::shared_ptr<Reports> previous;
    if (previous) {
        std::lock_guard lock(previous->mutex);
        if (previous->afterStop > 0)
            std::abort();
    }
    const auto shared = std::make_shared<Reports>();
    previous = shared;
    Reports& reports = *shared;
    auto manager = vd::QNComClientManager::create();
    manager->setConnectCompleteBlock([shared] {
        std::lock_guard lock(shared->mutex);
        ++shared->completions;
        shared->afterStop += shared->stopped;
    });
    manager->setReceiveBlock([shared](vd::ReceivedPacket&) {
        std::lock_guard lock(shared->mutex);
        shared->packetsBeforeLogin += shared->completions == 0;
        shared->afterStop += shared->stopped;
    });
    manager->setDisconnectBlock([shared](const std::optional<std::string>&) {
        std::lock_guard lock(shared->mutex);
        ++shared->disconnects;
        shared->afterStop += shared->stopped;
        shared->changed.notify_all();
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
            const bool greeted = manager->state() > vd::contract::HandshakeState::waitingForGreeting;
            lock.lock();
            if (greeted)
                reports.changed.wait_for(lock, 50ms, disconnected);
        }
    }
    manager->stop();
    std::lock_guard lock(reports.mutex);
    reports.stopped = true;
    if (reports.disconnects > 1 || reports.completions > 1 || reports.packetsBeforeLogin > 0)
        std::abort();
    return 0;
}
