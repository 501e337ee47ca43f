#include "link/UsbmuxStream.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <asio/connect.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/post.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

namespace vd {

Error posixError(int code)
{
    return Error{kPOSIXErrorDomain, code, std::strerror(code)};
}

Error posixError(const std::error_code& ec)
{
    return Error{kPOSIXErrorDomain, ec.value(), ec.message()};
}

std::string UsbmuxStream::daemonAddress()
{
    const char* overridden = std::getenv("USBMUXD_SOCKET_ADDRESS");
    if (overridden && *overridden)
        return overridden;
    return "/var/run/usbmuxd";
}

UsbmuxStream::UsbmuxStream(std::shared_ptr<DispatchQueue> reportQueue, EndHandler onEnd)
    : strandQueue_(SerialQueue::create("VD.USB.stream"))
    , queue_(std::move(reportQueue))
    , socket_(strandQueue_->executor())
    , onEnd_(std::move(onEnd))
{
}

UsbmuxStream::~UsbmuxStream()
{
    std::error_code ec;
    socket_.close(ec);
    if (!endReported_.exchange(true) && onEnd_) {
        std::optional<Error> error;
        if (ec)
            error = posixError(ec);
        queue_->async([onEnd = std::move(onEnd_), error] { onEnd(error); });
    }
}

std::shared_ptr<UsbmuxStream> UsbmuxStream::open(std::shared_ptr<DispatchQueue> reportQueue, EndHandler onEnd,
                                                 std::optional<Error>& error)
{
    std::shared_ptr<UsbmuxStream> stream(new UsbmuxStream(std::move(reportQueue), std::move(onEnd)));
    const std::string address = daemonAddress();
    std::error_code ec;
    const auto colon = address.rfind(':');
    if (address.empty() || address.front() == '/' || colon == std::string::npos) {
        asio::local::stream_protocol::endpoint unixEndpoint(address);
        asio::generic::stream_protocol::endpoint endpoint(unixEndpoint);
        stream->socket_.connect(endpoint, ec);
    } else {
        asio::io_context resolverContext;
        asio::ip::tcp::resolver resolver(resolverContext);
        auto results = resolver.resolve(address.substr(0, colon), address.substr(colon + 1), ec);
        if (!ec) {
            ec = asio::error::host_not_found;
            for (const auto& entry : results) {
                std::error_code attempt;
                stream->socket_.close(attempt);
                stream->socket_.connect(asio::generic::stream_protocol::endpoint(entry.endpoint()), attempt);
                ec = attempt;
                if (!attempt)
                    break;
            }
        }
    }
    if (ec) {
        error = posixError(ec);
        // A stream that never opened has nothing to end.
        stream->endReported_ = true;
        return nullptr;
    }
    return stream;
}

std::shared_ptr<UsbmuxStream> UsbmuxStream::adopt(int fd, std::shared_ptr<DispatchQueue> reportQueue, EndHandler onEnd)
{
    std::shared_ptr<UsbmuxStream> stream(new UsbmuxStream(std::move(reportQueue), std::move(onEnd)));
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    int family = AF_UNIX;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) == 0)
        family = storage.ss_family;
    stream->socket_.assign(asio::generic::stream_protocol(family, SOCK_STREAM), fd);
    return stream;
}

void UsbmuxStream::report(Task task)
{
    queue_->async(std::move(task));
}

void UsbmuxStream::read(std::size_t size, ReadCallback callback)
{
    asio::post(strandQueue_->executor(), [self = shared_from_this(), size, callback = std::move(callback)]() mutable {
        if (self->closed_)
            return;
        self->readInto(std::make_shared<std::vector<std::uint8_t>>(), size, std::move(callback));
    });
}

void UsbmuxStream::readInto(std::shared_ptr<std::vector<std::uint8_t>> buffer, std::size_t size, ReadCallback callback)
{
    // The buffer grows with the bytes that arrive (a slice, then doubling), so a peer that
    // announces a large size and sends little costs little.
    constexpr std::size_t kFirstSlice = 64 * 1024;
    const std::size_t have = buffer->size();
    const std::size_t slice = std::min(size - have, std::max(kFirstSlice, have));
    buffer->resize(have + slice);
    asio::async_read(socket_, asio::buffer(buffer->data() + have, slice), asio::transfer_exactly(slice),
        [self = shared_from_this(), buffer, size, have, callback = std::move(callback)](const std::error_code& ec, std::size_t got) mutable {
            if (self->closed_)
                return;
            buffer->resize(have + got);
            if (!ec && buffer->size() < size) {
                self->readInto(std::move(buffer), size, std::move(callback));
                return;
            }
            std::optional<Error> error;
            bool ended = false;
            if (ec == asio::error::eof)
                ended = true;
            else if (ec)
                error = posixError(ec);
            self->report([callback = std::move(callback), error, bytes = std::move(*buffer), ended]() mutable {
                callback(error, std::move(bytes), ended);
            });
        });
}

void UsbmuxStream::write(std::vector<std::uint8_t> bytes, WriteCallback callback)
{
    asio::post(strandQueue_->executor(), [self = shared_from_this(), bytes = std::move(bytes),
                                          callback = std::move(callback)]() mutable {
        if (self->closed_ || self->cancelRequested_) {
            if (callback)
                self->report([callback = std::move(callback)] { callback(posixError(ECANCELED)); });
            return;
        }
        if (self->writeError_) {
            if (callback)
                self->report([callback = std::move(callback), ec = self->writeError_] { callback(posixError(ec)); });
            return;
        }
        self->writes_.emplace_back(std::move(bytes), std::move(callback));
        self->startNextWrite();
    });
}

void UsbmuxStream::startNextWrite()
{
    if (writing_ || writes_.empty() || closed_)
        return;
    writing_ = true;
    asio::async_write(socket_, asio::buffer(writes_.front().first),
        [self = shared_from_this()](const std::error_code& ec, std::size_t) {
            self->writing_ = false;
            if (self->closed_)
                return;
            auto callback = std::move(self->writes_.front().second);
            self->writes_.pop_front();
            if (callback) {
                std::optional<Error> error;
                if (ec)
                    error = posixError(ec);
                self->report([callback = std::move(callback), error] { callback(error); });
            }
            if (ec) {
                // A stream that failed one write is broken for good; waiting writes would never go out.
                self->writeError_ = ec;
                for (auto& pending : self->writes_) {
                    if (pending.second)
                        self->report([callback = std::move(pending.second), ec] { callback(posixError(ec)); });
                }
                self->writes_.clear();
            }
            if (self->cancelRequested_ && self->writes_.empty())
                self->closeOnStrand();
            else
                self->startNextWrite();
        });
}

void UsbmuxStream::closeOnStrand()
{
    if (closed_)
        return;
    closed_ = true;
    std::error_code ec;
    socket_.shutdown(asio::socket_base::shutdown_both, ec);
    ec.clear();
    socket_.close(ec);
    for (auto& pending : writes_) {
        if (pending.second)
            report([callback = std::move(pending.second)] { callback(posixError(ECANCELED)); });
    }
    writes_.clear();
    if (!endReported_.exchange(true) && onEnd_) {
        std::optional<Error> error;
        if (ec)
            error = posixError(ec);
        report([onEnd = std::move(onEnd_), error] { onEnd(error); });
    }
}

void UsbmuxStream::close()
{
    asio::post(strandQueue_->executor(), [self = shared_from_this()] { self->closeOnStrand(); });
}

void UsbmuxStream::cancel()
{
    asio::post(strandQueue_->executor(), [self = shared_from_this()] {
        self->cancelRequested_ = true;
        if (!self->writing_ && self->writes_.empty())
            self->closeOnStrand();
    });
}

} // namespace vd
