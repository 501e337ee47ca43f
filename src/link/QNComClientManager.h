#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "LinkEnd.h"
#include "QNComPacket.h"
#include "ReceivedPacket.h"
#include "ServiceContract.h"
#include "ServiceTransport.h"
#include "SocketTransport.h"
#include "USBTransport.h"
#include "platform/DispatchQueue.h"
#include "platform/ThreadCheck.h"

namespace vd {

// The dashboard's end of the link to one service: opens the transport, logs in, sends requests
// and commands, and hands every packet received after login to its owner. The login and the
// commands are the same over every transport (see SocketTransport and USBTransport).
//
// Reports of socket links arrive on the "QNCM.Communication" queue, and so do the three
// callbacks. A USB link does all its work on the main queue, callbacks included. Every operation
// may be called from any thread.
class QNComClientManager : public ServiceTransportDelegate, public std::enable_shared_from_this<QNComClientManager> {
public:
    using ConnectCompleteBlock = std::function<void()>;
    using DisconnectBlock = std::function<void(const LinkEnd& end)>;
    // The packet is good only for the length of the call: see ReceivedPacket.
    using ReceiveBlock = std::function<void(ReceivedPacket&)>;
    using USBDaemonUnreachable = vd::USBDaemonUnreachable;
    // Called on the main queue when a USB link finds the daemon unreachable, and with none once
    // it answers again.
    using USBDaemonBlock = std::function<void(const std::optional<USBDaemonUnreachable>&)>;

    static std::shared_ptr<QNComClientManager> create();
    // Makes a new "QNCM.Communication" queue for the sockets made from now on, by any manager.
    QNComClientManager();
    ~QNComClientManager() override;

    // The queue that sockets made now report on.
    static std::shared_ptr<SerialQueue> communicationQueue();

    void setConnectCompleteBlock(ConnectCompleteBlock block);
    void setDisconnectBlock(DisconnectBlock block);
    void setReceiveBlock(ReceiveBlock block);
    void setUSBDaemonBlock(USBDaemonBlock block);

    // The service on this computer, with its built-in password and a 10-second connect timeout.
    void startWithSocketPath(const std::string& path);
    void startWithHost(const std::string& host, std::uint16_t port, const std::string& password);
    // The service on a device attached by USB, which listens one port above the given one. The
    // link follows the devices: it connects to a device when it attaches (or at once when one is
    // already attached), retries every second while attempts fail, and ends when it detaches.
    // A daemon that cannot be reached is logged once and tried again every second.
    void startWithUSBPort(std::int64_t port, const std::string& password);
    // Ends the link and drops commands waiting for the login. A socket link ends without a
    // disconnect callback: once stop returns no callback is running or will start, unless it
    // was called from inside one, so an owner may go away right after stopping. A connected USB
    // channel still reports its end, once, on the main queue.
    void stop();

    contract::HandshakeState state() const;

    // Commands. Before the login has succeeded they wait, in order, while a connection is being
    // made, and take their message ids when they are sent.
    void requestInfo();
    void requestConfiguration();
    void changeOutboundMode(std::int64_t mode);
    void requestCurrentTunnels();
    void requestHistoryTunnels();
    void requestHistoryTunnelLastCount(std::int64_t count);
    void requestHistoryTunnelStartIdEndId(std::int64_t firstId, std::int64_t lastId);
    void requestHistoryTunnelStartIdCount(std::int64_t firstId, std::int64_t count);
    void requestHistoryTunnelStartId(std::int64_t firstId);
    void requestRecentProcesses();
    void changeTrafficRecord(bool on);
    void changeMitMEnable(bool on);
    void requestTrafficInfo();
    void requestDNSRecords();
    void changeAutoPushTunnel(bool on);
    void changeAutoPushDNS(bool on);
    void purgeDNSRecords();
    void removeDNSRecordOfDomain(const std::string& domain);
    void closeTunnel(std::int64_t tunnelId);
    void requestIcon(const std::string& bundleId);
    void getTunnelRequestData(std::int64_t tunnelId);
    void getTunnelResponseData(std::int64_t tunnelId);
    void changeAutoPushUDP(bool on);

    // Sends an already numbered packet as a command.
    void sendPacket(const QNComPacket& packet);
    // The single send path: no bytes (a packet that failed to encode) stops the link.
    void sendRawMessage(std::optional<Bytes> bytes, long tag);

    // One received packet's bytes, terminator included, as a transport delivers them.
    void processReceivedData(std::span<const std::uint8_t> bytes);

private:
    struct HeldCommand {
        contract::Command cmd;
        std::optional<QNComPacket::Dictionary> data;
    };

    void transportDidConnect(ServiceTransport& transport) override;
    void transportDidReceive(ServiceTransport& transport, std::span<const std::uint8_t> bytes) override;
    void transportDidSend(ServiceTransport& transport, long tag) override;
    bool transportDidDisconnect(ServiceTransport& transport, std::optional<LinkEndCause> cause,
                                const std::optional<Error>& error, bool keepWaitingCommands) override;
    void transportDidEnd(LinkEndCause cause, const std::optional<Error>& error) override;
    std::size_t transportPacketLimit() const override;

    void startSocket(const SocketTransport::Connect& connect);
    // Ends the link and drops commands waiting for the login; `reportEnd`: tell the owner a
    // connected USB channel ended.
    void stopLink(bool reportEnd);
    void process(std::span<const std::uint8_t> bytes, ServiceTransport* source);
    void handshakeFailed(const std::optional<QNComPacket>& reply);
    void reportEnd(const LinkEnd& end);
    void queueRead(ServiceTransport* source);
    void issue(contract::Command cmd, std::optional<QNComPacket::Dictionary> data);

    // These expect mutex_ to be held. writeLocked returns false when there were no bytes.
    std::int64_t nextIdLocked();
    std::size_t packetLimitLocked() const;
    bool writeLocked(std::optional<Bytes> bytes, long tag);
    bool sendCommandLocked(contract::Command cmd, std::optional<QNComPacket::Dictionary> data);

    // Held while a report is handled and its callbacks run, and by stop(): taken before mutex_.
    std::recursive_mutex callbackGate_;
    mutable CheckedMutex mutex_;
    // The transport that carries the link now, if any.
    std::shared_ptr<ServiceTransport> transport_;
    // Kept from one USB start to the next, with the devices its hub has seen.
    std::shared_ptr<USBTransport> usbTransport_;
    std::int64_t id_ = 0;
    ConnectCompleteBlock connectCompleteBlock_;
    DisconnectBlock disconnectBlock_;
    ReceiveBlock receiveBlock_;
    USBDaemonBlock usbDaemonBlock_;
    std::string password_;
    contract::HandshakeState state_ = contract::HandshakeState::noLink;
    std::deque<HeldCommand> held_;
};

} // namespace vd
