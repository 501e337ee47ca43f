// The usbmuxd packet reader and property-list decoding: a hub listens through a socket the
// target plays the daemon on; the input is what the daemon sends (little-endian headers and
// property lists, XML or binary), in pieces whose size the first byte picks. Then the daemon
// goes away, and the hub must report the end.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "FuzzEnvironment.h"
#include "FuzzPeer.h"
#include "link/PTUSBHub.h"
#include "platform/MainLoop.h"
#include "platform/MainQueue.h"

using namespace std::chrono_literals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vd::fuzz::setUpFuzzEnvironment();
    static vd::MainLoop loop;
    static vd::fuzz::FuzzListener daemon;
    static const bool addressSet = ::setenv("USBMUXD_SOCKET_ADDRESS", daemon.path().c_str(), 1) == 0;
    if (size == 0 || !addressSet)
        return 0;
    const std::size_t chunk = 1 + data[0] * 64u;

    bool ended = false;
    auto hub = vd::PTUSBHub::create();
    hub->listenOnQueue(vd::MainQueue::shared(), [](std::optional<vd::Error>) {}, [&](std::optional<vd::Error>) { ended = true; });
    const int fd = daemon.accept(5s);
    if (fd < 0)
        std::abort();
    {
        vd::fuzz::FuzzPeer peer(fd);
        peer.send(std::span(data + 1, size - 1), chunk, [] { loop.drain(); });
    }
    if (!loop.runUntil([&] { return ended; }, 5s))
        std::abort();
    (void)hub->attachedDevices();
    hub.reset();
    loop.drain();
    return 0;
}
