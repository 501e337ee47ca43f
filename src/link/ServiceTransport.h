#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "LinkEnd.h"
#include "platform/Bytes.h"
#include "platform/Error.h"

namespace vd {

class ServiceTransport;

// What a transport tells the link that runs the login and the commands over it. A transport
// calls these without holding any lock of its own, on the queue it reports on; received
// packets may come on a queue of their own, at the same time as the other reports.
class ServiceTransportDelegate {
public:
    virtual ~ServiceTransportDelegate() = default;
    // A connection is up: the login can begin.
    virtual void transportDidConnect(ServiceTransport& transport) = 0;
    // One packet's bytes, terminator included.
    virtual void transportDidReceive(ServiceTransport& transport, std::span<const std::uint8_t> bytes) = 0;
    // A packet sent with `tag` has gone out whole (transports that read on request only).
    virtual void transportDidSend(ServiceTransport& transport, long tag) = 0;
    // The connection ended by itself. The link forgets its login (and, unless
    // `keepWaitingCommands`, the commands waiting for it) and tells the owner `cause`; without a
    // cause the transport tells it later through transportDidEnd, once it knows. False, and
    // nothing told, when `transport` no longer carries the link.
    virtual bool transportDidDisconnect(ServiceTransport& transport, std::optional<LinkEndCause> cause,
                                        const std::optional<Error>& error, bool keepWaitingCommands) = 0;
    // Tells the owner that a link ended, and why.
    virtual void transportDidEnd(LinkEndCause cause, const std::optional<Error>& error) = 0;
    // The largest packet the link takes now: small until the login has succeeded.
    virtual std::size_t transportPacketLimit() const = 0;
};

// A way of reaching the service: a stream socket, or a device port over USB. The login and the
// commands are the same over every transport.
class ServiceTransport {
public:
    virtual ~ServiceTransport() = default;
    // Queues one encoded packet; false when there is no connection to carry it.
    virtual bool send(Bytes bytes, long tag) = 0;
    // Lets the next packet in, of at most `maxBytes`. Transports that read by themselves, and
    // judge sizes through the delegate, ignore it.
    virtual void receiveNext(std::size_t maxBytes) = 0;
    // Ends the transport; nothing more is reported, except, with `reportEnd`, the end of a
    // connection that was up.
    virtual void close(bool reportEnd) = 0;
    // Whether the transport goes on making connections after one ends (a USB link follows
    // its devices); otherwise the end of its connection is the end of the transport.
    virtual bool outlivesConnections() const = 0;
};

} // namespace vd
