#include "USBTransport.h"

#include "ServiceContract.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "platform/ThreadCheck.h"
#include "platform/Timer.h"

namespace vd {
namespace {

constexpr Seconds kRetryDelay{1.0};
// How long a channel's own end waits for the news that its device was detached.
constexpr Seconds kDetachNewsDelay{0.5};

// The device a hub notification is about, when it names one.
std::optional<long long> deviceIDOf(const Notification& notification)
{
    const auto* message = std::any_cast<PTPlistMessage>(&notification.userInfo);
    if (!message || !message->is_object() || !message->contains("DeviceID") || !(*message)["DeviceID"].is_number_integer())
        return std::nullopt;
    return (*message)["DeviceID"].get<long long>();
}

} // namespace

std::shared_ptr<USBTransport> USBTransport::create(std::weak_ptr<ServiceTransportDelegate> delegate, DaemonBlock daemonChanged,
                                                   std::shared_ptr<SerialQueue> packetQueue)
{
    return std::make_shared<USBTransport>(std::move(delegate), std::move(daemonChanged), std::move(packetQueue));
}

USBTransport::USBTransport(std::weak_ptr<ServiceTransportDelegate> delegate, DaemonBlock daemonChanged,
                           std::shared_ptr<SerialQueue> packetQueue)
    : delegate_(std::move(delegate)), daemonChanged_(std::move(daemonChanged)), packetQueue_(std::move(packetQueue))
{
}

USBTransport::~USBTransport()
{
    // The channel reports to this transport weakly, so closing it here reports nothing.
    if (auto channel = connectedChannel_)
        runBlockInMainThread([channel] { channel->close(); });
}

void USBTransport::start(std::uint32_t devicePort)
{
    std::uint64_t watch = 0;
    {
        std::lock_guard lock(mutex_);
        port_ = devicePort;
        retry_ = true;
        watch = watch_ = ++watchCount_;
        if (!hub_)
            hub_ = PTUSBHub::create();
        if (!notConnectedQueue_) {
            notConnectedQueue_ = SerialQueue::create("VD.USB.notConnectedQueue");
            // The notification centre delivers under its own lock, so the handling goes to the
            // main queue as a task of its own rather than taking this transport's locks in there.
            const auto center = NotificationCenter::defaultCenter();
            const std::weak_ptr<USBTransport> weak = weak_from_this();
            const auto handleLater = [weak](void (USBTransport::*handler)(long long)) {
                return [weak, handler](const Notification& note) {
                    if (const auto deviceID = deviceIDOf(note)) {
                        MainQueue::shared()->async([weak, handler, deviceID = *deviceID] {
                            if (const auto self = weak.lock())
                                ((*self).*handler)(deviceID);
                        });
                    }
                };
            };
            attachObservation_ = center->addObserver(kPTUSBDeviceDidAttachNotification, hub_.get(),
                                                     handleLater(&USBTransport::deviceDidAttach));
            detachObservation_ = center->addObserver(kPTUSBDeviceDidDetachNotification, hub_.get(),
                                                     handleLater(&USBTransport::deviceDidDetach));
        }
    }
    runBlockInMainThread([weak = weak_from_this(), watch] {
        if (const auto self = weak.lock())
            self->watchDevices(watch);
    });
}

bool USBTransport::send(Bytes bytes, long tag)
{
    std::shared_ptr<PTChannel> channel;
    {
        std::lock_guard lock(mutex_);
        channel = connectedChannel_;
    }
    if (!channel)
        return false;
    // Always posted, never run in place, so frames leave in the order their ids were taken.
    MainQueue::shared()->async([weak = weak_from_this(), channel, bytes = std::move(bytes), tag]() mutable {
        channel->sendFrameOfType(contract::kFrameTypePacket, static_cast<std::uint32_t>(tag), std::move(bytes),
                                 [weak, channel](std::optional<Error> error) {
                                     if (const auto self = weak.lock(); self && error)
                                         self->sendFailed(channel);
                                 });
    });
    return true;
}

void USBTransport::close(bool reportEnd)
{
    std::shared_ptr<PTChannel> channel;
    std::optional<PendingEnd> pendingEnd;
    ObservationToken attachObservation;
    ObservationToken detachObservation;
    std::shared_ptr<SerialQueue> notConnectedQueue;
    {
        std::lock_guard lock(mutex_);
        retry_ = false;
        ++generation_;
        connectingToDeviceID_.reset();
        channel = std::move(connectedChannel_);
        connectedChannel_.reset();
        pendingEnd = std::move(pendingEnd_);
        pendingEnd_.reset();
        watch_ = 0;
        attachObservation = std::move(attachObservation_);
        detachObservation = std::move(detachObservation_);
        notConnectedQueue = std::move(notConnectedQueue_);
    }
    // The end of a channel we close is reported here rather than when the stream gets round
    // to ending: that could come after the next device's link is already up.
    if (channel) {
        runBlockInMainThread([delegate = delegate_, channel, reportEnd] {
            channel->close();
            if (const auto owner = delegate.lock(); owner && reportEnd)
                owner->transportDidEnd(LinkEndCause::Stopped, std::nullopt);
        });
    }
    // A channel that ended just before is told now as it was, before anything that follows.
    if (const auto owner = delegate_.lock(); owner && pendingEnd && reportEnd)
        owner->transportDidEnd(LinkEndCause::Closed, pendingEnd->error);
}

void USBTransport::watchDevices(std::uint64_t watch)
{
    VD_ASSERT_ON(MainQueue::shared());
    std::shared_ptr<PTUSBHub> hub;
    {
        std::lock_guard lock(mutex_);
        if (watch != watch_)
            return;
        hub = hub_;
    }
    // Listening again is free while the daemon connection lasts, and picks up a daemon that
    // was not running at the last start.
    const std::weak_ptr<USBTransport> weak = weak_from_this();
    hub->listenOnQueue(MainQueue::shared(),
        [weak, watch](const std::optional<Error>& error) {
            if (const auto self = weak.lock())
                self->listenFinished(watch, error);
        },
        // Only the first listen's end handler is kept, so it serves whichever watch is current.
        [weak](const std::optional<Error>&) {
            if (const auto self = weak.lock())
                self->listenEnded();
        });
    // A hub that has listened before has already announced its devices; nothing will announce
    // them again, so the link starts with the last one it knows.
    const auto devices = hub->attachedDevices();
    if (!devices.empty())
        deviceDidAttach(devices.rbegin()->first);
}

void USBTransport::listenFinished(std::uint64_t watch, const std::optional<Error>& error)
{
    VD_ASSERT_ON(MainQueue::shared());
    std::optional<USBDaemonUnreachable> unreachable;
    {
        std::lock_guard lock(mutex_);
        if (watch != watch_)
            return;
        daemonListening_ = !error;
        // Told once when the daemon goes missing and once when it answers again, not at every try.
        if (daemonUnreachable_ == error.has_value()) {
            if (error)
                retryWatchLater(watch);
            return;
        }
        daemonUnreachable_ = error.has_value();
        if (error)
            unreachable = USBDaemonUnreachable{UsbmuxStream::daemonAddress(), *error};
    }
    if (unreachable) {
        log::error("USB daemon cannot be reached at " + unreachable->address + ": " + unreachable->error.description);
        retryWatchLater(watch);
    } else {
        log::info("USB daemon reached at " + UsbmuxStream::daemonAddress());
    }
    if (daemonChanged_)
        daemonChanged_(unreachable);
}

void USBTransport::listenEnded()
{
    VD_ASSERT_ON(MainQueue::shared());
    std::uint64_t watch = 0;
    {
        std::lock_guard lock(mutex_);
        // A listen that failed has its retry already; one that was up is started again.
        if (!watch_ || !daemonListening_)
            return;
        daemonListening_ = false;
        watch = watch_;
    }
    retryWatchLater(watch);
}

void USBTransport::retryWatchLater(std::uint64_t watch)
{
    asyncAfter(MainQueue::shared(), kRetryDelay, [weak = weak_from_this(), watch] {
        if (const auto self = weak.lock())
            self->watchDevices(watch);
    });
}

void USBTransport::deviceDidAttach(long long deviceID)
{
    VD_ASSERT_ON(MainQueue::shared());
    std::shared_ptr<PTChannel> channel;
    std::optional<PendingEnd> pendingEnd;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        // Late news from before a close.
        if (!watch_ || connectingToDeviceID_ == deviceID)
            return;
        channel = std::move(connectedChannel_);
        connectedChannel_.reset();
        pendingEnd = std::move(pendingEnd_);
        pendingEnd_.reset();
        connectingToDeviceID_ = deviceID;
        retry_ = true;
        generation = ++generation_;
    }
    // The link moves to the new device: the old one's end is told first, so an owner is never
    // left thinking the new link is down. Commands waiting for a device are meant for this one.
    if (const auto owner = delegate_.lock()) {
        if (channel)
            owner->transportDidDisconnect(*this, LinkEndCause::Stopped, std::nullopt, true);
        else
            owner->transportDidDisconnect(*this, pendingEnd ? std::optional(LinkEndCause::Closed) : std::nullopt,
                                          pendingEnd ? pendingEnd->error : std::nullopt, true);
    }
    if (channel)
        channel->close();
    enqueueConnect(generation);
}

void USBTransport::deviceDidDetach(long long deviceID)
{
    VD_ASSERT_ON(MainQueue::shared());
    log::info("PTUSBDeviceDidDetachNotification: " + std::to_string(deviceID));
    std::shared_ptr<PTChannel> channel;
    std::optional<PendingEnd> pendingEnd;
    {
        std::lock_guard lock(mutex_);
        if (pendingEnd_ && pendingEnd_->deviceID == deviceID) {
            pendingEnd = std::move(pendingEnd_);
            pendingEnd_.reset();
        }
        if (connectingToDeviceID_ == deviceID) {
            connectingToDeviceID_.reset();
            ++generation_;
            channel = connectedChannel_;
        }
    }
    // The channel ended first; this is why.
    if (const auto owner = delegate_.lock(); owner && pendingEnd)
        owner->transportDidEnd(LinkEndCause::DeviceDetached, pendingEnd->error);
    // Its end is reported as the end of the current channel, the device no longer awaited.
    if (channel)
        channel->close();
}

void USBTransport::enqueueConnect(std::uint64_t generation)
{
    VD_ASSERT_ON(MainQueue::shared());
    std::shared_ptr<SerialQueue> queue;
    {
        std::lock_guard lock(mutex_);
        queue = notConnectedQueue_;
    }
    if (!queue)
        return;
    queue->async([weak = weak_from_this(), generation] {
        MainQueue::shared()->async([weak, generation] {
            if (const auto self = weak.lock())
                self->connectToDevice(generation);
        });
    });
}

void USBTransport::connectToDevice(std::uint64_t generation)
{
    VD_ASSERT_ON(MainQueue::shared());
    long long deviceID = 0;
    std::uint32_t port = 0;
    std::shared_ptr<PTUSBHub> hub;
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_ || !connectingToDeviceID_ || !hub_)
            return;
        deviceID = *connectingToDeviceID_;
        port = port_;
        hub = hub_;
    }
    const std::weak_ptr<USBTransport> weak = weak_from_this();
    PTChannelDelegate delegate;
    delegate.shouldAcceptFrame = [weak](PTChannel&, std::uint32_t type, std::uint32_t, std::uint32_t payloadSize) {
        const auto self = weak.lock();
        return self && self->shouldAcceptFrame(type, payloadSize);
    };
    delegate.didReceiveFrame = [weak](PTChannel& channel, std::uint32_t type, std::uint32_t, std::optional<PTData> payload) {
        if (const auto self = weak.lock())
            self->channelDidReceiveFrame(channel, type, std::move(payload));
    };
    delegate.didEndWithError = [weak](PTChannel& channel, std::optional<Error> error) {
        if (const auto self = weak.lock())
            self->channelDidEnd(channel, error);
    };
    auto channel = PTChannel::channelWithDelegate(std::move(delegate));
    channel->setUserInfo(deviceID);
    channel->connectToPort(port, hub, deviceID, [weak, channel, deviceID, generation](std::optional<Error> error) {
        if (const auto self = weak.lock())
            self->attemptFinished(channel, deviceID, generation, error);
        else if (!error)
            channel->close();
    });
}

void USBTransport::attemptFinished(const std::shared_ptr<PTChannel>& channel, long long deviceID,
                                   std::uint64_t generation, const std::optional<Error>& error)
{
    VD_ASSERT_ON(MainQueue::shared());
    if (!error) {
        bool current = false;
        {
            std::lock_guard lock(mutex_);
            if (generation == generation_ && connectingToDeviceID_ == deviceID) {
                current = true;
                connectedDeviceID_ = deviceID;
                connectedChannel_ = channel;
            }
        }
        const auto owner = delegate_.lock();
        if (!current || !owner) {
            // Stopped, detached or switched while connecting.
            channel->close();
            return;
        }
        owner->transportDidConnect(*this);
        return;
    }
    log::error("Failed to connect to device #" + std::to_string(deviceID) + ": " + error->description);
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_ || connectingToDeviceID_ != deviceID || !retry_)
            return;
    }
    asyncAfter(MainQueue::shared(), kRetryDelay, [weak = weak_from_this(), generation] {
        if (const auto self = weak.lock())
            self->enqueueConnect(generation);
    });
}

bool USBTransport::shouldAcceptFrame(std::uint32_t type, std::uint32_t payloadSize) const
{
    VD_ASSERT_ON(MainQueue::shared());
    const auto owner = delegate_.lock();
    return owner && type == contract::kFrameTypePacket && payloadSize <= owner->transportPacketLimit();
}

void USBTransport::channelDidReceiveFrame(PTChannel& channel, std::uint32_t type, std::optional<PTData> payload)
{
    VD_ASSERT_ON(MainQueue::shared());
    if (type != contract::kFrameTypePacket || !payload)
        return;
    std::shared_ptr<PTChannel> connected;
    {
        std::lock_guard lock(mutex_);
        if (&channel != connectedChannel_.get())
            return;
        connected = connectedChannel_;
    }
    // One packet is handled while the next is read; a third waits in the device.
    constexpr std::size_t kPacketsInFlight = 2;
    if (++packetsInFlight_ >= kPacketsInFlight)
        connected->pauseReading();
    packetQueue_->async([weak = weak_from_this(), connected, payload = std::move(*payload)] {
        if (const auto self = weak.lock())
            self->reportPacket(connected, payload);
    });
}

void USBTransport::reportPacket(const std::shared_ptr<PTChannel>& channel, const PTData& payload)
{
    VD_ASSERT_ON(packetQueue_);
    bool current = false;
    {
        std::lock_guard lock(mutex_);
        current = channel == connectedChannel_;
    }
    // A packet of a connection that has ended since is not the current link's.
    if (const auto owner = delegate_.lock(); owner && current)
        owner->transportDidReceive(*this, payload.bytes());
    MainQueue::shared()->async([weak = weak_from_this(), channel] {
        if (const auto self = weak.lock())
            self->packetReported(channel);
    });
}

void USBTransport::packetReported(const std::shared_ptr<PTChannel>& channel)
{
    VD_ASSERT_ON(MainQueue::shared());
    --packetsInFlight_;
    channel->resumeReading();
}

void USBTransport::channelDidEnd(PTChannel& channel, const std::optional<Error>& error)
{
    VD_ASSERT_ON(MainQueue::shared());
    std::uint64_t generation = 0;
    bool stillAwaited = false;
    {
        std::lock_guard lock(mutex_);
        if (!connectedDeviceID_ || &channel != connectedChannel_.get())
            return;
        connectedChannel_.reset();
        generation = generation_;
        // Still awaited: the device may be on its way out, with the daemon's word still coming.
        stillAwaited = connectingToDeviceID_ == connectedDeviceID_;
        if (stillAwaited)
            pendingEnd_ = PendingEnd{*connectedDeviceID_, error, generation};
    }
    const auto owner = delegate_.lock();
    // No longer awaited: its detach came first and closed the channel.
    const auto cause = stillAwaited ? std::nullopt : std::optional(LinkEndCause::DeviceDetached);
    if (!owner || !owner->transportDidDisconnect(*this, cause, error, false) || !stillAwaited)
        return;
    asyncAfter(MainQueue::shared(), kDetachNewsDelay, [weak = weak_from_this(), generation] {
        if (const auto self = weak.lock())
            self->reportPendingEnd(generation);
    });
}

void USBTransport::reportPendingEnd(std::uint64_t generation)
{
    VD_ASSERT_ON(MainQueue::shared());
    std::optional<PendingEnd> pendingEnd;
    {
        std::lock_guard lock(mutex_);
        if (!pendingEnd_ || pendingEnd_->generation != generation)
            return;
        pendingEnd = std::move(pendingEnd_);
        pendingEnd_.reset();
    }
    if (const auto owner = delegate_.lock())
        owner->transportDidEnd(LinkEndCause::Closed, pendingEnd->error);
}

void USBTransport::sendFailed(const std::shared_ptr<PTChannel>& channel)
{
    VD_ASSERT_ON(MainQueue::shared());
    {
        std::lock_guard lock(mutex_);
        if (channel != connectedChannel_)
            return;
    }
    // A send fails when the channel is going, most often because its device is: the channel's
    // end then tells the owner why, and the link keeps following the devices.
    channel->close();
}

} // namespace vd
