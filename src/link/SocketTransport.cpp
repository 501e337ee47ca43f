#include "SocketTransport.h"

#include "QNComPacket.h"
#include "platform/ThreadCheck.h"

namespace vd {
namespace {

constexpr double kWriteTimeout = 20;
constexpr double kNoTimeout = -1;
constexpr long kReadTag = 0;

} // namespace

std::shared_ptr<SocketTransport> SocketTransport::create(std::weak_ptr<ServiceTransportDelegate> delegate,
                                                         std::shared_ptr<SerialQueue> queue)
{
    auto transport = std::make_shared<SocketTransport>(std::move(delegate), std::move(queue));
    transport->socket_ = GCDAsyncSocket::initWithDelegate(transport, transport->queue_);
    return transport;
}

SocketTransport::SocketTransport(std::weak_ptr<ServiceTransportDelegate> delegate, std::shared_ptr<SerialQueue> queue)
    : delegate_(std::move(delegate)), queue_(std::move(queue))
{
}

SocketTransport::~SocketTransport()
{
    close(false);
}

std::optional<Error> SocketTransport::connect(const Connect& connect)
{
    return connect(*socket_);
}

bool SocketTransport::send(Bytes bytes, long tag)
{
    socket_->writeData(std::move(bytes), kWriteTimeout, tag);
    return true;
}

void SocketTransport::receiveNext(std::size_t maxBytes)
{
    socket_->readDataToData(Bytes(std::begin(QNComPacket::kTerminator), std::end(QNComPacket::kTerminator)), kNoTimeout,
                            kReadTag, maxBytes);
}

void SocketTransport::close(bool)
{
    socket_->setDelegate({});
    socket_->disconnect();
}

void SocketTransport::didConnect()
{
    VD_ASSERT_ON(queue_);
    connected_ = true;
    if (const auto delegate = delegate_.lock())
        delegate->transportDidConnect(*this);
}

void SocketTransport::socketDidConnectToUrl(GCDAsyncSocket&, const std::string&)
{
    didConnect();
}

void SocketTransport::socketDidConnectToHost(GCDAsyncSocket&, const std::string&, std::uint16_t)
{
    didConnect();
}

void SocketTransport::socketDidReadData(GCDAsyncSocket&, std::span<const std::uint8_t> data, long)
{
    VD_ASSERT_ON(queue_);
    if (const auto delegate = delegate_.lock())
        delegate->transportDidReceive(*this, data);
}

void SocketTransport::socketDidWriteDataWithTag(GCDAsyncSocket&, long tag)
{
    VD_ASSERT_ON(queue_);
    if (const auto delegate = delegate_.lock())
        delegate->transportDidSend(*this, tag);
}

void SocketTransport::socketDidDisconnect(GCDAsyncSocket&, const std::optional<Error>& error)
{
    VD_ASSERT_ON(queue_);
    const auto delegate = delegate_.lock();
    // A socket that never connected found nobody listening.
    const LinkEndCause cause = connected_ ? LinkEndCause::Closed : LinkEndCause::Unreachable;
    if (delegate)
        delegate->transportDidDisconnect(*this, cause, error, false);
}

} // namespace vd
