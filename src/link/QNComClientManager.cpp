#include "QNComClientManager.h"

#include "ServiceContract.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "platform/Timer.h"

namespace vd {
namespace {

using Dictionary = QNComPacket::Dictionary;
using contract::Command;
using contract::HandshakeState;

constexpr double kUnixConnectTimeout = 10;
constexpr double kWriteTimeout = 20;
constexpr double kNoTimeout = -1;
constexpr long kReadTag = 0;
constexpr Seconds kUSBRetryDelay{1.0};
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

std::mutex& queueMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<SerialQueue>& currentQueue()
{
    static std::shared_ptr<SerialQueue> queue;
    return queue;
}

} // namespace

std::shared_ptr<QNComClientManager> QNComClientManager::create()
{
    return std::make_shared<QNComClientManager>();
}

QNComClientManager::QNComClientManager()
{
    auto queue = SerialQueue::create("QNCM.Communication");
    std::lock_guard lock(queueMutex());
    currentQueue() = std::move(queue);
}

QNComClientManager::~QNComClientManager()
{
    if (socket_) {
        socket_->setDelegate({});
        socket_->disconnect();
    }
    // The channel reports to this manager weakly, so closing it here reports nothing.
    if (auto channel = connectedChannel_)
        runBlockInMainThread([channel] { channel->close(); });
}

std::shared_ptr<SerialQueue> QNComClientManager::communicationQueue()
{
    std::lock_guard lock(queueMutex());
    if (!currentQueue())
        currentQueue() = SerialQueue::create("QNCM.Communication");
    return currentQueue();
}

void QNComClientManager::setConnectCompleteBlock(ConnectCompleteBlock block)
{
    std::lock_guard lock(mutex_);
    connectCompleteBlock_ = std::move(block);
}

void QNComClientManager::setDisconnectBlock(DisconnectBlock block)
{
    std::lock_guard lock(mutex_);
    disconnectBlock_ = std::move(block);
}

void QNComClientManager::setReceiveBlock(ReceiveBlock block)
{
    std::lock_guard lock(mutex_);
    receiveBlock_ = std::move(block);
}

void QNComClientManager::setUSBDaemonBlock(USBDaemonBlock block)
{
    std::lock_guard lock(mutex_);
    usbDaemonBlock_ = std::move(block);
}

contract::HandshakeState QNComClientManager::state() const
{
    std::lock_guard lock(mutex_);
    return state_;
}

void QNComClientManager::startWithSocketPath(const std::string& path)
{
    {
        stop();
        std::lock_guard lock(mutex_);
        password_ = contract::kLocalPassword;
    }
    startSocket([&](GCDAsyncSocket& socket) { return socket.connectToUrl(path, kUnixConnectTimeout); });
}

void QNComClientManager::startWithHost(const std::string& host, std::uint16_t port, const std::string& password)
{
    {
        stop();
        std::lock_guard lock(mutex_);
        password_ = password;
    }
    startSocket([&](GCDAsyncSocket& socket) { return socket.connectToHost(host, port); });
}

void QNComClientManager::startSocket(const std::function<std::optional<Error>(GCDAsyncSocket&)>& connect)
{
    auto socket = GCDAsyncSocket::initWithDelegate(weak_from_this(), communicationQueue());
    {
        std::lock_guard lock(mutex_);
        socket_ = socket;
    }
    if (const auto error = connect(*socket)) {
        log::error("Connect fail with error: " + error->description);
        // A socket that never connects would only hold commands back forever.
        std::lock_guard lock(mutex_);
        if (socket_ == socket)
            socket_.reset();
    }
}

void QNComClientManager::stop()
{
    stopLink(true, true);
}

void QNComClientManager::stopLink(bool endUSBWatch, bool reportChannelEnd)
{
    std::lock_guard gate(callbackGate_);
    std::shared_ptr<GCDAsyncSocket> socket;
    std::shared_ptr<PTChannel> channel;
    ObservationToken attachWatch;
    ObservationToken detachWatch;
    std::shared_ptr<SerialQueue> usbQueue;
    std::optional<PendingUSBEnd> pendingEnd;
    {
        std::lock_guard lock(mutex_);
        socket = std::move(socket_);
        socket_.reset();
        state_ = HandshakeState::noLink;
        // Commands issued while waiting for a device are meant for whichever device comes.
        if (endUSBWatch)
            held_.clear();
        usbRetry_ = false;
        ++usbGeneration_;
        // A device that comes back while we are not watching must not look like the one
        // still awaited, or its attach would be ignored.
        connectingToDeviceID_.reset();
        channel = std::move(connectedChannel_);
        connectedChannel_.reset();
        pendingEnd = std::move(pendingUSBEnd_);
        pendingUSBEnd_.reset();
        if (endUSBWatch) {
            usbWatch_ = 0;
            attachWatch = std::move(usbNC1_);
            detachWatch = std::move(usbNC2_);
            usbQueue = std::move(notConnectedQueue_);
        }
    }
    if (socket) {
        socket->setDelegate({});
        socket->disconnect();
    }
    // The end of a channel we close is reported here rather than when the stream gets round
    // to ending: that could come after the next device's link is already up.
    if (channel) {
        runBlockInMainThread([weak = weak_from_this(), channel, reportChannelEnd] {
            channel->close();
            if (const auto self = weak.lock(); self && reportChannelEnd)
                self->reportTransportEnd(LinkEndCause::Stopped, std::nullopt);
        });
    }
    // A channel that ended just before is told now as it was, before anything that follows.
    if (pendingEnd && reportChannelEnd)
        reportTransportEnd(LinkEndCause::Closed, pendingEnd->error);
}

// --- sending ---------------------------------------------------------------------------------

bool QNComClientManager::writeLocked(std::optional<Bytes> bytes, long tag)
{
    if (!bytes)
        return false;
    if (socket_) {
        socket_->writeData(std::move(*bytes), kWriteTimeout, tag);
    } else if (auto channel = connectedChannel_) {
        // Always posted, never run in place, so frames leave in the order their ids were taken.
        MainQueue::shared()->async([weak = weak_from_this(), channel, bytes = std::move(*bytes), tag]() mutable {
            channel->sendFrameOfType(contract::kFrameTypePacket, static_cast<std::uint32_t>(tag), std::move(bytes),
                                     [weak, channel](std::optional<Error> error) {
                                         if (const auto self = weak.lock(); self && error)
                                             self->usbSendFailed(channel);
                                     });
        });
    } else {
        log::error("Message not sent because of socket closed");
    }
    return true;
}

bool QNComClientManager::sendCommandLocked(Command cmd, std::optional<Dictionary> data)
{
    QNComPacket packet = QNComPacket::initWithId(nextIdLocked());
    packet.setCmd(contract::numberOf(cmd));
    if (data)
        packet.setData(std::move(data));
    return writeLocked(packet.toData(), contract::kTagCommand);
}

void QNComClientManager::sendRawMessage(std::optional<Bytes> bytes, long tag)
{
    std::unique_lock lock(mutex_);
    if (!writeLocked(std::move(bytes), tag)) {
        lock.unlock();
        stop();
    }
}

void QNComClientManager::sendPacket(const QNComPacket& packet)
{
    sendRawMessage(packet.toData(), contract::kTagCommand);
}

void QNComClientManager::issue(Command cmd, std::optional<Dictionary> data)
{
    std::unique_lock lock(mutex_);
    // A USB link that is still looking for its device holds commands like a connecting socket.
    if (!socket_ && !connectedChannel_ && !usbRetry_) {
        lock.unlock();
        log::error("Message not sent because of socket closed");
        return;
    }
    if (state_ != HandshakeState::ready) {
        held_.push_back({cmd, std::move(data)});
        return;
    }
    // The id is taken and the write queued under one lock, so packets leave in id order.
    if (!sendCommandLocked(cmd, std::move(data))) {
        lock.unlock();
        stop();
    }
}

void QNComClientManager::requestInfo() { issue(Command::info, std::nullopt); }
void QNComClientManager::requestConfiguration() { issue(Command::configuration, std::nullopt); }
void QNComClientManager::changeOutboundMode(std::int64_t mode) { issue(Command::outboundMode, Dictionary::object({{"mode", mode}})); }
void QNComClientManager::requestCurrentTunnels() { issue(Command::currentTunnels, std::nullopt); }
void QNComClientManager::requestHistoryTunnels() { issue(Command::historyTunnels, std::nullopt); }

void QNComClientManager::requestHistoryTunnelLastCount(std::int64_t count)
{
    issue(Command::historyTunnels, Dictionary::object({{"cmd", "last_count"}, {"count", count}}));
}

void QNComClientManager::requestHistoryTunnelStartIdEndId(std::int64_t firstId, std::int64_t lastId)
{
    issue(Command::historyTunnels, Dictionary::object({{"cmd", "from_to"}, {"from", firstId}, {"to", lastId}}));
}

void QNComClientManager::requestHistoryTunnelStartIdCount(std::int64_t firstId, std::int64_t count)
{
    issue(Command::historyTunnels, Dictionary::object({{"cmd", "from_count"}, {"from", firstId}, {"count", count}}));
}

void QNComClientManager::requestHistoryTunnelStartId(std::int64_t firstId)
{
    issue(Command::historyTunnels, Dictionary::object({{"cmd", "from_to_last"}, {"from", firstId}}));
}

void QNComClientManager::requestRecentProcesses() { issue(Command::recentProcesses, std::nullopt); }
void QNComClientManager::changeTrafficRecord(bool on) { issue(Command::trafficRecord, Dictionary::object({{"switch", on}})); }
void QNComClientManager::changeMitMEnable(bool on) { issue(Command::mitmEnable, Dictionary::object({{"switch", on}})); }
void QNComClientManager::requestTrafficInfo() { issue(Command::trafficInfo, std::nullopt); }
void QNComClientManager::requestDNSRecords() { issue(Command::dnsRecords, std::nullopt); }
void QNComClientManager::changeAutoPushTunnel(bool on) { issue(Command::autoPushTunnel, Dictionary::object({{"switch", on}})); }
void QNComClientManager::changeAutoPushDNS(bool on) { issue(Command::autoPushDNS, Dictionary::object({{"switch", on}})); }
void QNComClientManager::purgeDNSRecords() { issue(Command::purgeDNSRecords, std::nullopt); }
void QNComClientManager::removeDNSRecordOfDomain(const std::string& domain) { issue(Command::removeDNSRecord, Dictionary::object({{"domain", domain}})); }
void QNComClientManager::closeTunnel(std::int64_t tunnelId) { issue(Command::closeTunnel, Dictionary::object({{"tunnel_id", tunnelId}})); }

void QNComClientManager::requestIcon(const std::string& bundleId)
{
    if (!bundleId.empty())
        issue(Command::icon, Dictionary::object({{"bundleId", bundleId}}));
}

void QNComClientManager::getTunnelRequestData(std::int64_t tunnelId) { issue(Command::tunnelRequestData, Dictionary::object({{"tunnel_id", tunnelId}})); }
void QNComClientManager::getTunnelResponseData(std::int64_t tunnelId) { issue(Command::tunnelResponseData, Dictionary::object({{"tunnel_id", tunnelId}})); }
void QNComClientManager::changeAutoPushUDP(bool on) { issue(Command::autoPushUDP, Dictionary::object({{"switch", on}})); }

// --- receiving -------------------------------------------------------------------------------

void QNComClientManager::queueRead(GCDAsyncSocket* source)
{
    std::shared_ptr<GCDAsyncSocket> socket;
    std::size_t cap = contract::kMaxPacketBytesBeforeLogin;
    {
        std::lock_guard lock(mutex_);
        if (!source || source != socket_.get())
            return;
        socket = socket_;
        if (state_ == HandshakeState::ready)
            cap = contract::kMaxPacketBytes;
    }
    socket->readDataToData(Bytes(std::begin(QNComPacket::kTerminator), std::end(QNComPacket::kTerminator)), kNoTimeout,
                           kReadTag, cap);
}

void QNComClientManager::processReceivedData(std::span<const std::uint8_t> bytes)
{
    std::lock_guard gate(callbackGate_);
    process(bytes, nullptr);
}

void QNComClientManager::process(std::span<const std::uint8_t> bytes, GCDAsyncSocket* source)
{
    const auto received = ReceivedPacket::decode(bytes);
    std::unique_lock lock(mutex_);
    if (state_ == HandshakeState::ready) {
        const auto receive = receiveBlock_;
        lock.unlock();
        // A packet that does not decode costs only itself.
        if (received && receive)
            receive(*received);
        return queueRead(source);
    }
    // The handshake's few small packets are read as dictionaries.
    const auto packet = received ? std::optional<QNComPacket>(received->packet()) : std::nullopt;
    switch (state_) {
    case HandshakeState::waitingForGreeting:
        // Anything but the greeting leaves the link open and silent: no read follows.
        if (packet && packet->message() == contract::kGreetingToken) {
            state_ = HandshakeState::identitySent;
            writeLocked(QNComPacket::initWithId(nextIdLocked()).toData(), contract::kTagHandshake);
        }
        return;
    case HandshakeState::identitySent:
        if (packet && packet->code() == contract::kCodeIdentityAccepted) {
            state_ = HandshakeState::passwordSent;
            QNComPacket reply = QNComPacket::initWithId(nextIdLocked());
            reply.setData(Dictionary::object({{"password", password_}}));
            writeLocked(reply.toData(), contract::kTagHandshake);
            return;
        }
        lock.unlock();
        return handshakeFailed(packet);
    case HandshakeState::passwordSent: {
        if (!packet || packet->code() != contract::kCodeSuccess) {
            lock.unlock();
            return handshakeFailed(packet);
        }
        state_ = HandshakeState::ready;
        // Commands issued while logging in go first, before anything the callback sends.
        while (!held_.empty()) {
            HeldCommand command = std::move(held_.front());
            held_.pop_front();
            sendCommandLocked(command.cmd, std::move(command.data));
        }
        const auto connectComplete = connectCompleteBlock_;
        lock.unlock();
        if (connectComplete)
            connectComplete();
        return queueRead(source);
    }
    default:
        return;
    }
}

void QNComClientManager::handshakeFailed(const std::optional<QNComPacket>& reply)
{
    const auto message = reply ? reply->message() : std::nullopt;
    log::error("Error: " + message.value_or("(null)"));
    // The owner hears of this end once, with the service's reason, below.
    stopLink(true, false);
    // Tell the owner, or it would wait for a link that is already gone.
    reportEnd({LinkEndCause::LoginRefused, message && !message->empty() ? *message : std::string("Authentication failed")});
}

void QNComClientManager::reportTransportEnd(LinkEndCause cause, const std::optional<Error>& error)
{
    log::info("disconnect: " + logText(error));
    reportEnd({cause, error ? std::optional<std::string>(error->description) : std::nullopt});
}

void QNComClientManager::reportEnd(const LinkEnd& end)
{
    std::lock_guard gate(callbackGate_);
    DisconnectBlock disconnect;
    {
        std::lock_guard lock(mutex_);
        disconnect = disconnectBlock_;
    }
    if (disconnect)
        disconnect(end);
}

// --- socket reports (on the communication queue) -----------------------------------------------

void QNComClientManager::transportConnected(GCDAsyncSocket& socket)
{
    std::lock_guard gate(callbackGate_);
    {
        std::lock_guard lock(mutex_);
        if (&socket != socket_.get())
            return;
        state_ = HandshakeState::waitingForGreeting;
    }
    log::info("Connect success");
    queueRead(&socket);
}

void QNComClientManager::socketDidConnectToUrl(GCDAsyncSocket& socket, const std::string&)
{
    transportConnected(socket);
}

void QNComClientManager::socketDidConnectToHost(GCDAsyncSocket& socket, const std::string&, std::uint16_t)
{
    transportConnected(socket);
}

void QNComClientManager::socketDidReadData(GCDAsyncSocket& socket, Bytes data, long)
{
    std::lock_guard gate(callbackGate_);
    {
        std::lock_guard lock(mutex_);
        if (&socket != socket_.get())
            return;
    }
    process(data, &socket);
}

void QNComClientManager::socketDidWriteDataWithTag(GCDAsyncSocket& socket, long tag)
{
    if (tag == contract::kTagHandshake)
        queueRead(&socket);
}

void QNComClientManager::socketDidDisconnect(GCDAsyncSocket& socket, const std::optional<Error>& error)
{
    std::lock_guard gate(callbackGate_);
    LinkEndCause cause = LinkEndCause::Closed;
    {
        std::lock_guard lock(mutex_);
        // A late end of a socket already replaced is not the end of the current link.
        if (&socket != socket_.get())
            return;
        // A socket that never connected leaves the state where the start put it.
        if (state_ == HandshakeState::noLink)
            cause = LinkEndCause::Unreachable;
        socket_.reset();
        state_ = HandshakeState::noLink;
        held_.clear();
    }
    reportTransportEnd(cause, error);
}

// --- USB link (main queue) ---------------------------------------------------------------------

void QNComClientManager::startWithUSBPort(std::int64_t port, const std::string& password)
{
    stop();
    if (!contract::kUSBPorts.contains(port)) {
        log::error("Connect fail with error: invalid port " + std::to_string(port));
        return;
    }
    std::uint64_t watch = 0;
    {
        std::lock_guard lock(mutex_);
        port_ = port + 1;
        password_ = password;
        usbRetry_ = true;
        watch = usbWatch_ = ++usbWatchCount_;
        if (!usbHub_)
            usbHub_ = PTUSBHub::create();
        if (!notConnectedQueue_) {
            notConnectedQueue_ = SerialQueue::create("VD.USB.notConnectedQueue");
            // The notification centre delivers under its own lock, so the handling goes to the
            // main queue as a task of its own rather than taking this manager's locks in there.
            const auto center = NotificationCenter::defaultCenter();
            const std::weak_ptr<QNComClientManager> weak = weak_from_this();
            const auto handleLater = [weak](void (QNComClientManager::*handler)(long long)) {
                return [weak, handler](const Notification& note) {
                    if (const auto deviceID = deviceIDOf(note)) {
                        MainQueue::shared()->async([weak, handler, deviceID = *deviceID] {
                            if (const auto self = weak.lock())
                                ((*self).*handler)(deviceID);
                        });
                    }
                };
            };
            usbNC1_ = center->addObserver(kPTUSBDeviceDidAttachNotification, usbHub_.get(),
                                          handleLater(&QNComClientManager::usbDeviceDidAttach));
            usbNC2_ = center->addObserver(kPTUSBDeviceDidDetachNotification, usbHub_.get(),
                                          handleLater(&QNComClientManager::usbDeviceDidDetach));
        }
    }
    runBlockInMainThread([weak = weak_from_this(), watch] {
        if (const auto self = weak.lock())
            self->watchUSBDevices(watch);
    });
}

void QNComClientManager::watchUSBDevices(std::uint64_t watch)
{
    std::shared_ptr<PTUSBHub> hub;
    {
        std::lock_guard lock(mutex_);
        if (watch != usbWatch_)
            return;
        hub = usbHub_;
    }
    // Listening again is free while the daemon connection lasts, and picks up a daemon that
    // was not running at the last start.
    const std::weak_ptr<QNComClientManager> weak = weak_from_this();
    hub->listenOnQueue(MainQueue::shared(),
        [weak, watch](const std::optional<Error>& error) {
            if (const auto self = weak.lock())
                self->usbListenFinished(watch, error);
        },
        // Only the first listen's end handler is kept, so it serves whichever watch is current.
        [weak](const std::optional<Error>&) {
            if (const auto self = weak.lock())
                self->usbListenEnded();
        });
    // A hub that has listened before has already announced its devices; nothing will announce
    // them again, so the link starts with the last one it knows.
    const auto devices = hub->attachedDevices();
    if (!devices.empty())
        usbDeviceDidAttach(devices.rbegin()->first);
}

void QNComClientManager::usbListenFinished(std::uint64_t watch, const std::optional<Error>& error)
{
    USBDaemonBlock tell;
    std::optional<USBDaemonUnreachable> unreachable;
    {
        std::lock_guard lock(mutex_);
        if (watch != usbWatch_)
            return;
        usbDaemonListening_ = !error;
        // Told once when the daemon goes missing and once when it answers again, not at every try.
        if (usbDaemonUnreachable_ == error.has_value()) {
            if (error)
                retryUSBWatchLater(watch);
            return;
        }
        usbDaemonUnreachable_ = error.has_value();
        if (error)
            unreachable = USBDaemonUnreachable{UsbmuxStream::daemonAddress(), *error};
        tell = usbDaemonBlock_;
    }
    if (unreachable) {
        log::error("USB daemon cannot be reached at " + unreachable->address + ": " + unreachable->error.description);
        retryUSBWatchLater(watch);
    } else {
        log::info("USB daemon reached at " + UsbmuxStream::daemonAddress());
    }
    if (tell)
        tell(unreachable);
}

void QNComClientManager::usbListenEnded()
{
    std::uint64_t watch = 0;
    {
        std::lock_guard lock(mutex_);
        // A listen that failed has its retry already; one that was up is started again.
        if (!usbWatch_ || !usbDaemonListening_)
            return;
        usbDaemonListening_ = false;
        watch = usbWatch_;
    }
    retryUSBWatchLater(watch);
}

void QNComClientManager::retryUSBWatchLater(std::uint64_t watch)
{
    asyncAfter(MainQueue::shared(), kUSBRetryDelay, [weak = weak_from_this(), watch] {
        if (const auto self = weak.lock())
            self->watchUSBDevices(watch);
    });
}

void QNComClientManager::usbDeviceDidAttach(long long deviceID)
{
    {
        std::lock_guard lock(mutex_);
        if (connectingToDeviceID_ == deviceID)
            return;
    }
    stopLink(false, true);
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        connectingToDeviceID_ = deviceID;
        usbRetry_ = true;
        generation = usbGeneration_;
    }
    enqueueConnectToUSBDevice(generation);
}

void QNComClientManager::usbDeviceDidDetach(long long deviceID)
{
    log::info("PTUSBDeviceDidDetachNotification: " + std::to_string(deviceID));
    std::shared_ptr<PTChannel> channel;
    std::optional<PendingUSBEnd> pendingEnd;
    {
        std::lock_guard lock(mutex_);
        if (pendingUSBEnd_ && pendingUSBEnd_->deviceID == deviceID) {
            pendingEnd = std::move(pendingUSBEnd_);
            pendingUSBEnd_.reset();
        }
        if (connectingToDeviceID_ == deviceID) {
            connectingToDeviceID_.reset();
            ++usbGeneration_;
            channel = connectedChannel_;
        }
    }
    // The channel ended first; this is why.
    if (pendingEnd)
        reportTransportEnd(LinkEndCause::DeviceDetached, pendingEnd->error);
    // Its end is reported as the end of the current channel, the device no longer awaited.
    if (channel)
        channel->close();
}

void QNComClientManager::enqueueConnectToUSBDevice(std::uint64_t generation)
{
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
                self->connectToUSBDevice(generation);
        });
    });
}

void QNComClientManager::connectToUSBDevice(std::uint64_t generation)
{
    long long deviceID = 0;
    std::int64_t port = 0;
    std::shared_ptr<PTUSBHub> hub;
    {
        std::lock_guard lock(mutex_);
        if (generation != usbGeneration_ || !connectingToDeviceID_ || !usbHub_)
            return;
        deviceID = *connectingToDeviceID_;
        port = port_;
        hub = usbHub_;
    }
    const std::weak_ptr<QNComClientManager> weak = weak_from_this();
    PTChannelDelegate delegate;
    delegate.shouldAcceptFrame = [weak](PTChannel&, std::uint32_t type, std::uint32_t, std::uint32_t payloadSize) {
        const auto self = weak.lock();
        return self && self->usbShouldAcceptFrame(type, payloadSize);
    };
    delegate.didReceiveFrame = [weak](PTChannel& channel, std::uint32_t type, std::uint32_t, std::optional<PTData> payload) {
        if (const auto self = weak.lock())
            self->usbChannelDidReceiveFrame(channel, type, payload);
    };
    delegate.didEndWithError = [weak](PTChannel& channel, std::optional<Error> error) {
        if (const auto self = weak.lock())
            self->usbChannelDidEnd(channel, error);
    };
    auto channel = PTChannel::channelWithDelegate(std::move(delegate));
    channel->setUserInfo(deviceID);
    channel->connectToPort(static_cast<std::uint32_t>(port), hub, deviceID,
        [weak, channel, deviceID, generation](std::optional<Error> error) {
            if (const auto self = weak.lock())
                self->usbAttemptFinished(channel, deviceID, generation, error);
            else if (!error)
                channel->close();
        });
}

void QNComClientManager::usbAttemptFinished(const std::shared_ptr<PTChannel>& channel, long long deviceID,
                                            std::uint64_t generation, const std::optional<Error>& error)
{
    if (!error) {
        bool current = false;
        {
            std::lock_guard lock(mutex_);
            if (generation == usbGeneration_ && connectingToDeviceID_ == deviceID) {
                current = true;
                connectedDeviceID_ = deviceID;
                connectedChannel_ = channel;
                state_ = HandshakeState::waitingForGreeting;
            }
        }
        if (!current) {
            // Stopped, detached or switched while connecting.
            channel->close();
            return;
        }
        log::info("Connect success");
        return;
    }
    log::error("Failed to connect to device #" + std::to_string(deviceID) + ": " + error->description);
    {
        std::lock_guard lock(mutex_);
        if (generation != usbGeneration_ || connectingToDeviceID_ != deviceID || !usbRetry_)
            return;
    }
    asyncAfter(MainQueue::shared(), kUSBRetryDelay, [weak = weak_from_this(), generation] {
        if (const auto self = weak.lock())
            self->enqueueConnectToUSBDevice(generation);
    });
}

bool QNComClientManager::usbShouldAcceptFrame(std::uint32_t type, std::uint32_t payloadSize) const
{
    std::lock_guard lock(mutex_);
    const std::size_t cap = state_ == HandshakeState::ready ? contract::kMaxPacketBytes : contract::kMaxPacketBytesBeforeLogin;
    return type == contract::kFrameTypePacket && payloadSize <= cap;
}

void QNComClientManager::usbChannelDidReceiveFrame(PTChannel& channel, std::uint32_t type, const std::optional<PTData>& payload)
{
    if (type != contract::kFrameTypePacket || !payload)
        return;
    std::lock_guard gate(callbackGate_);
    {
        std::lock_guard lock(mutex_);
        if (&channel != connectedChannel_.get())
            return;
    }
    process(payload->bytes(), nullptr);
}

void QNComClientManager::usbChannelDidEnd(PTChannel& channel, const std::optional<Error>& error)
{
    std::uint64_t generation = 0;
    bool stillAwaited = false;
    {
        std::lock_guard lock(mutex_);
        if (!connectedDeviceID_ || &channel != connectedChannel_.get())
            return;
        connectedChannel_.reset();
        state_ = HandshakeState::noLink;
        held_.clear();
        generation = usbGeneration_;
        // Still awaited: the device may be on its way out, with the daemon's word still coming.
        stillAwaited = connectingToDeviceID_ == connectedDeviceID_;
        if (stillAwaited)
            pendingUSBEnd_ = PendingUSBEnd{*connectedDeviceID_, error, generation};
    }
    // No longer awaited: its detach came first and closed the channel.
    if (!stillAwaited)
        return reportTransportEnd(LinkEndCause::DeviceDetached, error);
    asyncAfter(MainQueue::shared(), kDetachNewsDelay, [weak = weak_from_this(), generation] {
        if (const auto self = weak.lock())
            self->reportPendingUSBEnd(generation);
    });
}

void QNComClientManager::reportPendingUSBEnd(std::uint64_t generation)
{
    std::optional<PendingUSBEnd> pendingEnd;
    {
        std::lock_guard lock(mutex_);
        if (!pendingUSBEnd_ || pendingUSBEnd_->generation != generation)
            return;
        pendingEnd = std::move(pendingUSBEnd_);
        pendingUSBEnd_.reset();
    }
    reportTransportEnd(LinkEndCause::Closed, pendingEnd->error);
}

void QNComClientManager::usbSendFailed(const std::shared_ptr<PTChannel>& channel)
{
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
