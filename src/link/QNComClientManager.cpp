#include "QNComClientManager.h"

#include "ServiceContract.h"
#include "platform/Log.h"

namespace vd {
namespace {

using Dictionary = QNComPacket::Dictionary;
using contract::Command;
using contract::HandshakeState;

constexpr double kUnixConnectTimeout = 10;

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

// The transports report to this manager weakly and close their connections as they go.
QNComClientManager::~QNComClientManager() = default;

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

void QNComClientManager::startWithUSBPort(std::int64_t port, const std::string& password)
{
    stop();
    if (!contract::kUSBPorts.contains(port)) {
        log::error("Connect fail with error: invalid port " + std::to_string(port));
        return;
    }
    std::shared_ptr<USBTransport> usb;
    {
        std::lock_guard lock(mutex_);
        password_ = password;
        if (!usbTransport_) {
            usbTransport_ = USBTransport::create(weak_from_this(), [weak = weak_from_this()](const auto& unreachable) {
                const auto self = weak.lock();
                if (!self)
                    return;
                USBDaemonBlock tell;
                {
                    std::lock_guard lock(self->mutex_);
                    tell = self->usbDaemonBlock_;
                }
                if (tell)
                    tell(unreachable);
            }, communicationQueue());
        }
        usb = usbTransport_;
        transport_ = usb;
    }
    usb->start(static_cast<std::uint32_t>(port + 1));
}

void QNComClientManager::startSocket(const SocketTransport::Connect& connect)
{
    auto socket = SocketTransport::create(weak_from_this(), communicationQueue());
    {
        std::lock_guard lock(mutex_);
        transport_ = socket;
    }
    if (const auto error = socket->connect(connect)) {
        log::error("Connect fail with error: " + error->description);
        // A socket that never connects would only hold commands back forever.
        std::lock_guard lock(mutex_);
        if (transport_ == socket)
            transport_.reset();
    }
}

void QNComClientManager::stop()
{
    stopLink(true);
}

void QNComClientManager::stopLink(bool reportEnd)
{
    std::lock_guard gate(callbackGate_);
    std::shared_ptr<ServiceTransport> transport;
    {
        std::lock_guard lock(mutex_);
        transport = std::move(transport_);
        transport_.reset();
        state_ = HandshakeState::noLink;
        held_.clear();
    }
    if (transport)
        transport->close(reportEnd);
}

// --- sending ---------------------------------------------------------------------------------

std::int64_t QNComClientManager::nextIdLocked()
{
    VD_ASSERT_HELD(mutex_);
    return id_++;
}

bool QNComClientManager::writeLocked(std::optional<Bytes> bytes, long tag)
{
    VD_ASSERT_HELD(mutex_);
    if (!bytes)
        return false;
    if (!transport_ || !transport_->send(std::move(*bytes), tag))
        log::error("Message not sent because of socket closed");
    return true;
}

bool QNComClientManager::sendCommandLocked(Command cmd, std::optional<Dictionary> data)
{
    VD_ASSERT_HELD(mutex_);
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
    if (!transport_) {
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

void QNComClientManager::queueRead(ServiceTransport* source)
{
    std::shared_ptr<ServiceTransport> transport;
    std::size_t limit = 0;
    {
        std::lock_guard lock(mutex_);
        if (!source || source != transport_.get())
            return;
        transport = transport_;
        limit = packetLimitLocked();
    }
    transport->receiveNext(limit);
}

std::size_t QNComClientManager::packetLimitLocked() const
{
    VD_ASSERT_HELD(mutex_);
    return state_ == HandshakeState::ready ? contract::kMaxPacketBytes : contract::kMaxPacketBytesBeforeLogin;
}

std::size_t QNComClientManager::transportPacketLimit() const
{
    std::lock_guard lock(mutex_);
    return packetLimitLocked();
}

void QNComClientManager::processReceivedData(std::span<const std::uint8_t> bytes)
{
    std::lock_guard gate(callbackGate_);
    process(bytes, nullptr);
}

void QNComClientManager::process(std::span<const std::uint8_t> bytes, ServiceTransport* source)
{
    auto received = ReceivedPacket::decode(bytes);
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
    const auto packet = received ? received->takePacket() : std::nullopt;
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
    stopLink(false);
    // Tell the owner, or it would wait for a link that is already gone.
    reportEnd({LinkEndCause::LoginRefused, message && !message->empty() ? *message : std::string("Authentication failed")});
}

void QNComClientManager::transportDidEnd(LinkEndCause cause, const std::optional<Error>& error)
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

// --- transport reports --------------------------------------------------------------------------

void QNComClientManager::transportDidConnect(ServiceTransport& transport)
{
    std::lock_guard gate(callbackGate_);
    {
        std::lock_guard lock(mutex_);
        if (&transport != transport_.get())
            return;
        state_ = HandshakeState::waitingForGreeting;
    }
    log::info("Connect success");
    queueRead(&transport);
}

void QNComClientManager::transportDidReceive(ServiceTransport& transport, std::span<const std::uint8_t> bytes)
{
    std::lock_guard gate(callbackGate_);
    {
        std::lock_guard lock(mutex_);
        if (&transport != transport_.get())
            return;
    }
    process(bytes, &transport);
}

void QNComClientManager::transportDidSend(ServiceTransport& transport, long tag)
{
    if (tag == contract::kTagHandshake)
        queueRead(&transport);
}

bool QNComClientManager::transportDidDisconnect(ServiceTransport& transport, std::optional<LinkEndCause> cause,
                                                const std::optional<Error>& error, bool keepWaitingCommands)
{
    std::lock_guard gate(callbackGate_);
    // Let go of after the lock: the transport may be reporting from inside itself.
    std::shared_ptr<ServiceTransport> finished;
    {
        std::lock_guard lock(mutex_);
        // A late end of a transport already replaced is not the end of the current link.
        if (&transport != transport_.get())
            return false;
        if (!transport.outlivesConnections())
            finished = std::move(transport_);
        state_ = HandshakeState::noLink;
        if (!keepWaitingCommands)
            held_.clear();
    }
    if (cause)
        transportDidEnd(*cause, error);
    return true;
}

} // namespace vd
