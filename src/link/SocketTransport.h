#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "GCDAsyncSocket.h"
#include "ServiceTransport.h"
#include "platform/DispatchQueue.h"

namespace vd {

// The service behind a unix-domain socket or a TCP port: one socket, one connection attempt.
// Everything it reports arrives on the queue it was made with.
class SocketTransport final : public ServiceTransport,
                              public GCDAsyncSocketDelegate,
                              public std::enable_shared_from_this<SocketTransport> {
public:
    using Connect = std::function<std::optional<Error>(GCDAsyncSocket&)>;

    static std::shared_ptr<SocketTransport> create(std::weak_ptr<ServiceTransportDelegate> delegate,
                                                   std::shared_ptr<SerialQueue> queue);
    SocketTransport(std::weak_ptr<ServiceTransportDelegate> delegate, std::shared_ptr<SerialQueue> queue);
    ~SocketTransport() override;

    // Starts the attempt; a refusal at the call comes back as the error, and nothing is reported.
    std::optional<Error> connect(const Connect& connect);

    bool send(Bytes bytes, long tag) override;
    void receiveNext(std::size_t maxBytes) override;
    // A socket link ends without a report.
    void close(bool reportEnd) override;
    bool outlivesConnections() const override { return false; }

private:
    void socketDidConnectToUrl(GCDAsyncSocket& socket, const std::string& path) override;
    void socketDidConnectToHost(GCDAsyncSocket& socket, const std::string& host, std::uint16_t port) override;
    void socketDidReadData(GCDAsyncSocket& socket, std::span<const std::uint8_t> data, long tag) override;
    void socketDidWriteDataWithTag(GCDAsyncSocket& socket, long tag) override;
    void socketDidDisconnect(GCDAsyncSocket& socket, const std::optional<Error>& error) override;
    void didConnect();

    const std::weak_ptr<ServiceTransportDelegate> delegate_;
    const std::shared_ptr<SerialQueue> queue_;
    std::shared_ptr<GCDAsyncSocket> socket_;
    // Touched on queue_ only: whether the attempt got as far as a connection.
    bool connected_ = false;
};

} // namespace vd
