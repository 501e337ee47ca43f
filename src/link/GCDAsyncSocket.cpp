#include "GCDAsyncSocket.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include <sys/un.h>

#include <asio/connect.hpp>
#include <asio/generic/stream_protocol.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

namespace vd {
namespace {

constexpr std::size_t kReceiveChunk = 64 * 1024;

Error socketError(GCDAsyncSocket::ErrorCode code, std::string description)
{
    return Error{GCDAsyncSocket::kErrorDomain, code, std::move(description)};
}

Error systemError(const std::error_code& ec)
{
    return Error{ec.category().name(), ec.value(), ec.message()};
}

std::chrono::steady_clock::duration toDuration(double seconds)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

} // namespace

// Everything in here runs on the delegate queue's strand, so none of it needs a lock.
struct GCDAsyncSocket::Impl {
    enum class State { Idle, Connecting, Connected, Ended };
    struct Read {
        Bytes delimiter;
        double timeout;
        long tag;
        std::size_t maxLength;
    };
    struct Write {
        Bytes data;
        double timeout;
        long tag;
    };

    Impl(GCDAsyncSocket& owner, const SerialQueue::Executor& executor)
        : owner(owner), socket(executor), resolver(executor), connectTimer(executor), readTimer(executor),
          writeTimer(executor)
    {
    }

    template <typename Report>
    void deliver(Report&& report)
    {
        if (owner.disconnectRequested_.load())
            return;
        if (auto delegate = owner.currentDelegate())
            report(*delegate);
    }

    void end(const std::optional<Error>& error)
    {
        if (state == State::Ended)
            return;
        state = State::Ended;
        std::error_code ignored;
        socket.close(ignored);
        resolver.cancel();
        connectTimer.cancel();
        readTimer.cancel();
        writeTimer.cancel();
        reads.clear();
        writes.clear();
        buffer = Bytes();
        begin = end_ = scanFrom = 0;
        if (auto delegate = owner.currentDelegate())
            delegate->socketDidDisconnect(owner, error);
    }

    void armConnectTimer(double timeout)
    {
        if (timeout <= 0)
            return;
        connectTimer.expires_after(toDuration(timeout));
        connectTimer.async_wait([self = owner.shared_from_this(), this](const std::error_code& ec) {
            if (!ec && state == State::Connecting)
                end(socketError(kConnectTimeoutError, "Connection attempt timed out"));
        });
    }

    void connectLocal(const std::string& path, double timeout)
    {
        if (state != State::Idle)
            return;
        state = State::Connecting;
        armConnectTimer(timeout);
        const asio::generic::stream_protocol::endpoint endpoint{asio::local::stream_protocol::endpoint(path)};
        socket.async_connect(endpoint, [self = owner.shared_from_this(), this, path](const std::error_code& ec) {
            if (state != State::Connecting)
                return;
            if (ec)
                return end(systemError(ec));
            connected();
            deliver([&](GCDAsyncSocketDelegate& d) { d.socketDidConnectToUrl(owner, path); });
            pump();
        });
    }

    void connectTcp(const std::string& host, std::uint16_t port)
    {
        if (state != State::Idle)
            return;
        state = State::Connecting;
        resolver.async_resolve(host, std::to_string(port),
                               [self = owner.shared_from_this(), this, port](const std::error_code& ec,
                                                                             asio::ip::tcp::resolver::results_type results) {
                                   if (state != State::Connecting)
                                       return;
                                   if (ec || results.empty())
                                       return end(systemError(ec ? ec : asio::error::host_not_found));
                                   candidates.assign(results.begin(), results.end());
                                   tryCandidate(0, port);
                               });
    }

    // Tries the resolved addresses in order, as a browser would, keeping the last error.
    void tryCandidate(std::size_t index, std::uint16_t port)
    {
        std::error_code ignored;
        socket.close(ignored);
        const asio::ip::tcp::endpoint target = candidates[index].endpoint();
        socket.async_connect(asio::generic::stream_protocol::endpoint(target),
                             [self = owner.shared_from_this(), this, index, port, target](const std::error_code& ec) {
                                 if (state != State::Connecting)
                                     return;
                                 if (ec) {
                                     if (index + 1 < candidates.size())
                                         return tryCandidate(index + 1, port);
                                     return end(systemError(ec));
                                 }
                                 std::error_code ignoredOption;
                                 socket.set_option(asio::ip::tcp::no_delay(true), ignoredOption);
                                 connected();
                                 const std::string host = target.address().to_string();
                                 deliver([&](GCDAsyncSocketDelegate& d) { d.socketDidConnectToHost(owner, host, port); });
                                 pump();
                             });
    }

    void connected()
    {
        state = State::Connected;
        connectTimer.cancel();
        candidates.clear();
    }

    void pump()
    {
        pumpReads();
        pumpWrites();
    }

    // Finds the front read's delimiter among the unread bytes, resuming where the last look
    // stopped, so a packet arriving in many pieces is scanned once.
    std::optional<std::size_t> findDelimiter(const Bytes& delimiter)
    {
        const std::uint8_t* data = buffer.data() + begin;
        const std::size_t available = end_ - begin;
        if (delimiter.empty() || available < delimiter.size())
            return std::nullopt;
        const std::size_t lastStart = available - delimiter.size();
        for (std::size_t at = scanFrom; at <= lastStart;) {
            const void* hit = std::memchr(data + at, delimiter[0], lastStart - at + 1);
            if (!hit)
                break;
            at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
            if (std::memcmp(data + at, delimiter.data(), delimiter.size()) == 0)
                return at + delimiter.size();
            ++at;
        }
        scanFrom = lastStart + 1;
        return std::nullopt;
    }

    void pumpReads()
    {
        while (state == State::Connected && !reads.empty()) {
            const Read& read = reads.front();
            if (const auto length = findDelimiter(read.delimiter)) {
                const std::span<const std::uint8_t> data(buffer.data() + begin, *length);
                scanFrom = 0;
                const long tag = read.tag;
                reads.pop_front();
                ++readSequence;
                readTimer.cancel();
                // The delegate reads the bytes where they arrived: whatever it asks of the socket
                // is posted, so the buffer stays as it is until it returns.
                deliver([&](GCDAsyncSocketDelegate& d) { d.socketDidReadData(owner, data, tag); });
                begin += *length;
                if (begin == end_)
                    begin = end_ = 0;
                continue;
            }
            if (read.maxLength > 0 && end_ - begin >= read.maxLength) {
                return end(socketError(kReadMaxedOutError, "No packet end within " + std::to_string(read.maxLength) +
                                                                " bytes; the connection was closed"));
            }
            armReadTimer(read.timeout);
            receive();
            return;
        }
    }

    void armReadTimer(double timeout)
    {
        if (timeout <= 0 || readTimerSequence == readSequence)
            return;
        readTimerSequence = readSequence;
        readTimer.expires_after(toDuration(timeout));
        readTimer.async_wait([self = owner.shared_from_this(), this, sequence = readSequence](const std::error_code& ec) {
            if (!ec && state == State::Connected && sequence == readSequence)
                end(socketError(kReadTimeoutError, "Read operation timed out"));
        });
    }

    // Doubles, for few copies on the way to a large packet, but never past what the front read
    // may hold: a peer that never ends its packet costs its cap, not twice that, zero-filled.
    std::size_t grownSize() const
    {
        const std::size_t doubled = std::max(buffer.size() * 2, end_ + kReceiveChunk);
        if (reads.empty() || reads.front().maxLength == 0)
            return doubled;
        return std::min(doubled, std::max(end_, reads.front().maxLength) + kReceiveChunk);
    }

    void receive()
    {
        if (receiving)
            return;
        if (buffer.size() - end_ < kReceiveChunk) {
            if (begin > 0) {
                std::memmove(buffer.data(), buffer.data() + begin, end_ - begin);
                end_ -= begin;
                begin = 0;
            }
            if (buffer.size() - end_ < kReceiveChunk)
                buffer.resize(grownSize());
        }
        receiving = true;
        socket.async_read_some(asio::buffer(buffer.data() + end_, buffer.size() - end_),
                               [self = owner.shared_from_this(), this](const std::error_code& ec, std::size_t count) {
                                   receiving = false;
                                   if (state != State::Connected)
                                       return;
                                   if (ec == asio::error::eof)
                                       return end(socketError(kClosedError, "The service closed the connection"));
                                   if (ec)
                                       return end(systemError(ec));
                                   end_ += count;
                                   pumpReads();
                               });
    }

    void pumpWrites()
    {
        if (state != State::Connected || writing || writes.empty())
            return;
        writing = true;
        const Write& write = writes.front();
        const auto sequence = ++writeSequence;
        if (write.timeout > 0) {
            writeTimer.expires_after(toDuration(write.timeout));
            writeTimer.async_wait([self = owner.shared_from_this(), this, sequence](const std::error_code& ec) {
                if (!ec && writing && sequence == writeSequence)
                    end(socketError(kWriteTimeoutError, "Write operation timed out"));
            });
        }
        asio::async_write(socket, asio::buffer(write.data),
                          [self = owner.shared_from_this(), this](const std::error_code& ec, std::size_t) {
                              writing = false;
                              if (state != State::Connected)
                                  return;
                              writeTimer.cancel();
                              if (ec)
                                  return end(systemError(ec));
                              const long tag = writes.front().tag;
                              writes.pop_front();
                              deliver([&](GCDAsyncSocketDelegate& d) { d.socketDidWriteDataWithTag(owner, tag); });
                              pumpWrites();
                          });
    }

    GCDAsyncSocket& owner;
    asio::generic::stream_protocol::socket socket;
    asio::ip::tcp::resolver resolver;
    asio::steady_timer connectTimer;
    asio::steady_timer readTimer;
    asio::steady_timer writeTimer;
    std::vector<asio::ip::tcp::resolver::results_type::value_type> candidates;

    State state = State::Idle;
    std::deque<Read> reads;
    std::deque<Write> writes;
    bool receiving = false;
    bool writing = false;
    unsigned long long readSequence = 0;
    unsigned long long readTimerSequence = ~0ull;
    unsigned long long writeSequence = 0;

    // Received bytes not yet handed out live in buffer[begin, end_).
    Bytes buffer;
    std::size_t begin = 0;
    std::size_t end_ = 0;
    std::size_t scanFrom = 0;
};

std::shared_ptr<GCDAsyncSocket> GCDAsyncSocket::initWithDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate,
                                                                 std::shared_ptr<SerialQueue> delegateQueue)
{
    std::shared_ptr<GCDAsyncSocket> socket(new GCDAsyncSocket(std::move(delegateQueue)));
    socket->delegate_ = std::move(delegate);
    return socket;
}

GCDAsyncSocket::GCDAsyncSocket(std::shared_ptr<SerialQueue> queue)
    : queue_(std::move(queue)), impl_(std::make_unique<Impl>(*this, queue_->executor()))
{
}

GCDAsyncSocket::~GCDAsyncSocket() = default;

std::shared_ptr<GCDAsyncSocketDelegate> GCDAsyncSocket::currentDelegate()
{
    std::lock_guard lock(delegateMutex_);
    return delegate_.lock();
}

std::optional<Error> GCDAsyncSocket::connectToUrl(const std::string& path, double timeout)
{
    if (path.empty() || path.size() >= sizeof(sockaddr_un::sun_path) || path.find('\0') != std::string::npos)
        return socketError(kBadParamError, "Invalid unix socket path: " + path);
    if (started_.exchange(true))
        return socketError(kInUseError, "The socket is already connected or connecting");
    asio::post(queue_->executor(), [self = shared_from_this(), path, timeout] { self->impl_->connectLocal(path, timeout); });
    return std::nullopt;
}

std::optional<Error> GCDAsyncSocket::connectToHost(const std::string& host, std::uint16_t port)
{
    if (host.empty())
        return socketError(kBadParamError, "Invalid host: empty name");
    if (started_.exchange(true))
        return socketError(kInUseError, "The socket is already connected or connecting");
    asio::post(queue_->executor(), [self = shared_from_this(), host, port] { self->impl_->connectTcp(host, port); });
    return std::nullopt;
}

void GCDAsyncSocket::readDataToData(Bytes delimiter, double timeout, long tag, std::size_t maxLength)
{
    asio::post(queue_->executor(), [self = shared_from_this(), read = Impl::Read{std::move(delimiter), timeout, tag, maxLength}]() mutable {
        if (self->impl_->state == Impl::State::Ended)
            return;
        self->impl_->reads.push_back(std::move(read));
        self->impl_->pumpReads();
    });
}

void GCDAsyncSocket::writeData(Bytes data, double timeout, long tag)
{
    asio::post(queue_->executor(), [self = shared_from_this(), write = Impl::Write{std::move(data), timeout, tag}]() mutable {
        if (self->impl_->state == Impl::State::Ended)
            return;
        self->impl_->writes.push_back(std::move(write));
        self->impl_->pumpWrites();
    });
}

void GCDAsyncSocket::setDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate)
{
    std::lock_guard lock(delegateMutex_);
    delegate_ = std::move(delegate);
}

void GCDAsyncSocket::disconnect()
{
    started_ = true;
    disconnectRequested_ = true;
    asio::post(queue_->executor(), [self = shared_from_this()] { self->impl_->end(std::nullopt); });
}

} // namespace vd
