#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "PTChannel.h"
#include "PTUSBHub.h"
#include "ServiceTransport.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"

namespace vd {

// The USB daemon could not be reached at `address`.
struct USBDaemonUnreachable {
    std::string address;
    Error error;
};

// The service on a device attached by USB, reached through the USB daemon. It follows the
// devices: it connects to a device when it attaches (or at once when one is already attached),
// retries every second while attempts fail, and ends the connection when the device detaches,
// then waits for the next. A daemon that cannot be reached is tried again every second.
//
// start, send and close may be called from any thread; everything else, the hub and the
// channels included, runs on the main queue, and so do the reports to the delegate but one:
// received packets are reported on `packetQueue`, so that handling a large report never holds
// the GUI thread. While that queue is behind, the channel reads no further frames.
class USBTransport final : public ServiceTransport, public std::enable_shared_from_this<USBTransport> {
public:
    // Called on the main queue when the daemon turns out unreachable, and with none once it
    // answers again.
    using DaemonBlock = std::function<void(const std::optional<USBDaemonUnreachable>&)>;

    static std::shared_ptr<USBTransport> create(std::weak_ptr<ServiceTransportDelegate> delegate, DaemonBlock daemonChanged,
                                                std::shared_ptr<SerialQueue> packetQueue);
    USBTransport(std::weak_ptr<ServiceTransportDelegate> delegate, DaemonBlock daemonChanged,
                 std::shared_ptr<SerialQueue> packetQueue);
    ~USBTransport() override;

    // Starts following the devices, to connect to `devicePort` of the last one attached. The
    // hub is kept from one start to the next: it knows the devices it has announced.
    void start(std::uint32_t devicePort);

    bool send(Bytes bytes, long tag) override;
    void receiveNext(std::size_t) override {}
    // Stops following the devices. A connected channel is closed on the main queue and, with
    // `reportEnd`, its end told there; a channel that ended just before is told at once.
    void close(bool reportEnd) override;
    bool outlivesConnections() const override { return true; }

private:
    struct PendingEnd {
        long long deviceID;
        std::optional<Error> error;
        std::uint64_t generation;
    };

    // Ends the connection to the current device and every attempt under way. `endWatch`: also
    // stop following the devices, rather than only switch to another.
    void endDeviceLink(bool endWatch, bool reportEnd);
    void watchDevices(std::uint64_t watch);
    void listenFinished(std::uint64_t watch, const std::optional<Error>& error);
    void listenEnded();
    void retryWatchLater(std::uint64_t watch);
    void deviceDidAttach(long long deviceID);
    void deviceDidDetach(long long deviceID);
    void enqueueConnect(std::uint64_t generation);
    void connectToDevice(std::uint64_t generation);
    void attemptFinished(const std::shared_ptr<PTChannel>& channel, long long deviceID, std::uint64_t generation,
                         const std::optional<Error>& error);
    bool shouldAcceptFrame(std::uint32_t type, std::uint32_t payloadSize) const;
    void channelDidReceiveFrame(PTChannel& channel, std::uint32_t type, std::optional<PTData> payload);
    void reportPacket(const std::shared_ptr<PTChannel>& channel, const PTData& payload);
    void packetReported(const std::shared_ptr<PTChannel>& channel);
    void channelDidEnd(PTChannel& channel, const std::optional<Error>& error);
    void reportPendingEnd(std::uint64_t generation);
    void sendFailed(const std::shared_ptr<PTChannel>& channel);

    const std::weak_ptr<ServiceTransportDelegate> delegate_;
    const DaemonBlock daemonChanged_;
    const std::shared_ptr<SerialQueue> packetQueue_;
    // Packets handed to packetQueue_ and not yet reported; touched on the main queue only.
    std::size_t packetsInFlight_ = 0;

    // The hub and the channels are used on the main queue only; the rest is guarded by mutex_
    // because start, sends and close come from any thread.
    mutable std::mutex mutex_;
    std::shared_ptr<PTUSBHub> hub_;
    std::shared_ptr<PTChannel> connectedChannel_;
    std::shared_ptr<SerialQueue> notConnectedQueue_;
    std::optional<long long> connectingToDeviceID_;
    std::optional<long long> connectedDeviceID_;
    ObservationToken attachObservation_;
    ObservationToken detachObservation_;
    std::uint32_t port_ = 0;
    bool retry_ = false;
    // Every attempt belongs to a generation; stop, a detach and a switch of devices start a new
    // one, so late results and retries of older attempts change nothing.
    std::uint64_t generation_ = 0;
    // A channel that ended on its own, while the news of its device's detach may still be on
    // its way: the daemon tells it on the listening connection, in either order with the end.
    std::optional<PendingEnd> pendingEnd_;
    // Each start watches the daemon under a new number; 0: not watching.
    std::uint64_t watch_ = 0;
    std::uint64_t watchCount_ = 0;
    bool daemonListening_ = false;
    bool daemonUnreachable_ = false;
};

} // namespace vd
