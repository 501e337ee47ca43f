#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "GCDAsyncSocket.h"
#include "LinkEnd.h"
#include "PTChannel.h"
#include "PTUSBHub.h"
#include "QNComPacket.h"
#include "ServiceContract.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"

namespace vd {

// The dashboard's end of the link to one service: opens the transport, logs in, sends requests
// and commands, and hands every packet received after login to its owner.
//
// Reports of socket links arrive on the "QNCM.Communication" queue, and so do the three
// callbacks. A USB link does all its work on the main queue, callbacks included. Every operation
// may be called from any thread.
class QNComClientManager : public GCDAsyncSocketDelegate, public std::enable_shared_from_this<QNComClientManager> {
public:
    using ConnectCompleteBlock = std::function<void()>;
    using DisconnectBlock = std::function<void(const LinkEnd& end)>;
    // The packet is good only for the length of the call: see ReceivedPacket.
    using ReceiveBlock = std::function<void(const ReceivedPacket&)>;
    // The USB daemon could not be reached at `address`.
    struct USBDaemonUnreachable {
        std::string address;
        Error error;
    };
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

    void socketDidConnectToUrl(GCDAsyncSocket& socket, const std::string& path) override;
    void socketDidConnectToHost(GCDAsyncSocket& socket, const std::string& host, std::uint16_t port) override;
    void socketDidReadData(GCDAsyncSocket& socket, Bytes data, long tag) override;
    void socketDidWriteDataWithTag(GCDAsyncSocket& socket, long tag) override;
    void socketDidDisconnect(GCDAsyncSocket& socket, const std::optional<Error>& error) override;

    void startSocket(const std::function<std::optional<Error>(GCDAsyncSocket&)>& connect);
    // `endUSBWatch`: also stop following devices, rather than only end the link to the current
    // one (switching devices). `reportChannelEnd`: tell the owner a connected USB channel ended.
    void stopLink(bool endUSBWatch, bool reportChannelEnd);

    // USB link, all on the main queue.
    void watchUSBDevices(std::uint64_t watch);
    void usbListenFinished(std::uint64_t watch, const std::optional<Error>& error);
    void usbListenEnded();
    void retryUSBWatchLater(std::uint64_t watch);
    void usbDeviceDidAttach(long long deviceID);
    void usbDeviceDidDetach(long long deviceID);
    void enqueueConnectToUSBDevice(std::uint64_t generation);
    void connectToUSBDevice(std::uint64_t generation);
    void usbAttemptFinished(const std::shared_ptr<PTChannel>& channel, long long deviceID, std::uint64_t generation,
                            const std::optional<Error>& error);
    bool usbShouldAcceptFrame(std::uint32_t type, std::uint32_t payloadSize) const;
    void usbChannelDidReceiveFrame(PTChannel& channel, std::uint32_t type, const std::optional<PTData>& payload);
    void usbChannelDidEnd(PTChannel& channel, const std::optional<Error>& error);
    void reportPendingUSBEnd(std::uint64_t generation);
    void usbSendFailed(const std::shared_ptr<PTChannel>& channel);
    void transportConnected(GCDAsyncSocket& socket);
    void process(std::span<const std::uint8_t> bytes, GCDAsyncSocket* source);
    void handshakeFailed(const std::optional<QNComPacket>& reply);
    // The transport's end: logged, then told to the owner.
    void reportTransportEnd(LinkEndCause cause, const std::optional<Error>& error);
    void reportEnd(const LinkEnd& end);
    void queueRead(GCDAsyncSocket* source);
    void issue(contract::Command cmd, std::optional<QNComPacket::Dictionary> data);

    // These expect mutex_ to be held. writeLocked returns false when there were no bytes.
    std::int64_t nextIdLocked() { return id_++; }
    bool writeLocked(std::optional<Bytes> bytes, long tag);
    bool sendCommandLocked(contract::Command cmd, std::optional<QNComPacket::Dictionary> data);

    // Held while a report is handled and its callbacks run, and by stop(): taken before mutex_.
    std::recursive_mutex callbackGate_;
    mutable std::mutex mutex_;
    std::shared_ptr<GCDAsyncSocket> socket_;
    std::int64_t id_ = 0;
    ConnectCompleteBlock connectCompleteBlock_;
    DisconnectBlock disconnectBlock_;
    ReceiveBlock receiveBlock_;
    USBDaemonBlock usbDaemonBlock_;
    std::string password_;
    contract::HandshakeState state_ = contract::HandshakeState::noLink;
    std::deque<HeldCommand> held_;

    // USB link. The hub and the channels are used on the main queue only; the rest is guarded
    // by mutex_ because sends and stop come from any thread.
    std::shared_ptr<PTChannel> connectedChannel_;
    std::shared_ptr<SerialQueue> notConnectedQueue_;
    std::optional<long long> connectingToDeviceID_;
    std::optional<long long> connectedDeviceID_;
    ObservationToken usbNC1_;
    ObservationToken usbNC2_;
    std::shared_ptr<PTUSBHub> usbHub_;
    bool usbRetry_ = false;
    // Every attempt belongs to a generation; stop, a detach and a switch of devices start a new
    // one, so late results and retries of older attempts change nothing.
    std::uint64_t usbGeneration_ = 0;
    // A channel that ended on its own, while the news of its device's detach may still be on
    // its way: the daemon tells it on the listening connection, in either order with the end.
    struct PendingUSBEnd {
        long long deviceID;
        std::optional<Error> error;
        std::uint64_t generation;
    };
    std::optional<PendingUSBEnd> pendingUSBEnd_;
    // Each start of a USB link watches the daemon under a new number; 0: not watching.
    std::uint64_t usbWatch_ = 0;
    std::uint64_t usbWatchCount_ = 0;
    bool usbDaemonListening_ = false;
    bool usbDaemonUnreachable_ = false;
    std::int64_t port_ = 0;
};

} // namespace vd
