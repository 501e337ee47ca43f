// The frame read loop: the input is what a device port sends (16-byte big-endian headers and
// payloads), written into a socket a real channel reads from, in pieces whose size the first
// byte picks; the peer then closes, and the channel must end exactly once.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "FuzzEnvironment.h"
#include "FuzzPeer.h"
#include "link/PTChannel.h"
#include "platform/MainLoop.h"
#include "platform/MainQueue.h"

using namespace std::chrono_literals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vd::fuzz::setUpFuzzEnvironment();
    static vd::MainLoop loop;
    if (size == 0)
        return 0;
    const std::size_t chunk = 1 + data[0] * 64u;

    int ends = 0;
    std::size_t payloadBytes = 0;
    vd::PTChannelDelegate delegate;
    delegate.didReceiveFrame = [&](vd::PTChannel&, std::uint32_t, std::uint32_t, std::optional<vd::PTData> payload) {
        payloadBytes += payload ? payload->length() : 0;
    };
    delegate.didEndWithError = [&](vd::PTChannel&, std::optional<vd::Error>) { ++ends; };
    auto channel = vd::PTChannel::channelWithDelegate(delegate);
    int peerFd = -1;
    const int ownFd = vd::fuzz::FuzzPeer::socketPair(peerFd);
    auto stream = vd::UsbmuxStream::adopt(ownFd, vd::MainQueue::shared(), channel->endHandler());
    if (channel->startReadingFromConnectedChannel(stream))
        std::abort();
    {
        vd::fuzz::FuzzPeer peer(peerFd);
        peer.send(std::span(data + 1, size - 1), chunk, [] { loop.drain(); });
    }
    stream.reset();
    if (!loop.runUntil([&] { return ends > 0; }, 5s))
        std::abort();
    loop.runFor(0ms);
    if (ends != 1 || payloadBytes > size)
        std::abort();
    channel->close();
    loop.drain();
    return 0;
}
