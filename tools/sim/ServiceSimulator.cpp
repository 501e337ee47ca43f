#include "ServiceSimulator.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include <asio/generic/stream_protocol.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/write.hpp>

#include "SimResponder.h"
#include "link/JsonValues.h"
#include "link/QNComPacket.h"
#include "link/ServiceContract.h"

namespace vd::sim {
namespace {

using Dictionary = QNComPacket::Dictionary;
using Socket = asio::generic::stream_protocol::socket;

constexpr std::size_t kReceiveChunk = 64 * 1024;

} // namespace

class Session;

struct ServiceSimulator::Impl : std::enable_shared_from_this<ServiceSimulator::Impl> {
    Impl(asio::io_context& context, SimulatorOptions options, LogSink log)
        : context(context), options(std::move(options)), log(std::move(log)), unixAcceptor(context), tcpAcceptor(context)
    {
        if (this->options.greeting.empty())
            this->options.greeting = contract::kGreetingToken;
    }

    void writeLog(const Dictionary& line) const
    {
        if (log)
            log(line.dump(-1, ' ', false, Dictionary::error_handler_t::replace));
    }

    std::optional<std::string> listenLocal(const std::filesystem::path& path);
    std::optional<std::string> listenTcp();
    void acceptLocal();
    void acceptTcp();
    void adopt(Socket socket, const char* transport, std::string password);

    asio::io_context& context;
    SimulatorOptions options;
    LogSink log;
    SimResponder responder;
    asio::local::stream_protocol::acceptor unixAcceptor;
    asio::ip::tcp::acceptor tcpAcceptor;
    std::vector<std::weak_ptr<Session>> sessions;
    int nextConnection = 1;
    bool stopped = false;
};

// One client connection: greeting, identity, password, then requests.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(std::shared_ptr<ServiceSimulator::Impl> service, Socket socket, int number, std::string password)
        : service_(std::move(service)), socket_(std::move(socket)), number_(number), password_(std::move(password))
    {
    }

    void start(const char* transport)
    {
        service_->writeLog({{"conn", number_}, {"event", "open"}, {"transport", transport}});
        QNComPacket greeting = QNComPacket::initWithId(0);
        greeting.setMessage(service_->options.greeting);
        send(greeting);
        receive();
    }

    void close()
    {
        if (!socket_.is_open())
            return;
        std::error_code ignored;
        socket_.shutdown(asio::socket_base::shutdown_both, ignored);
        socket_.close(ignored);
        service_->writeLog({{"conn", number_}, {"event", "close"}});
    }

private:
    enum class Stage { Identity, Password, Ready };

    void receive()
    {
        if (buffer_.size() - used_ < kReceiveChunk)
            buffer_.resize(std::max(buffer_.size() * 2, used_ + kReceiveChunk));
        socket_.async_read_some(asio::buffer(buffer_.data() + used_, buffer_.size() - used_),
                                [self = shared_from_this()](const std::error_code& ec, std::size_t count) {
                                    if (ec)
                                        return self->close();
                                    self->used_ += count;
                                    self->takePackets();
                                    if (self->used_ > contract::kMaxPacketBytes)
                                        return self->close();
                                    if (self->socket_.is_open())
                                        self->receive();
                                });
    }

    void takePackets()
    {
        std::size_t start = 0;
        for (std::size_t i = 1; i < used_; ++i) {
            if (buffer_[i - 1] == QNComPacket::kTerminator[0] && buffer_[i] == QNComPacket::kTerminator[1]) {
                handle({buffer_.data() + start, i + 1 - start});
                start = i + 1;
            }
        }
        std::memmove(buffer_.data(), buffer_.data() + start, used_ - start);
        used_ -= start;
    }

    void handle(std::span<const std::uint8_t> bytes)
    {
        const auto packet = QNComPacket::initWithData(bytes);
        service_->writeLog({{"conn", number_}, {"recv", packet ? packet->dic() : Dictionary("undecodable")}});
        if (!packet || !socket_.is_open())
            return;
        switch (stage_) {
        case Stage::Identity: {
            QNComPacket reply = QNComPacket::initWithId(packet->id_());
            reply.setCode(contract::kCodeIdentityAccepted);
            reply.setMessage("Password required");
            stage_ = Stage::Password;
            return send(reply);
        }
        case Stage::Password: {
            const auto* data = packet->data();
            const auto* given = data ? json::member(*data, "password") : nullptr;
            const bool accepted = given && given->is_string() && *given == password_;
            QNComPacket reply = QNComPacket::initWithId(packet->id_());
            if (!accepted) {
                reply.setCode(0);
                reply.setMessage("Wrong password");
                closeAfterWrites_ = true;
                return send(reply);
            }
            stage_ = Stage::Ready;
            send(reply);
            return send(service_->responder.serviceInfo());
        }
        case Stage::Ready:
            if (auto reply = service_->responder.reply(*packet))
                send(*reply);
            return;
        }
    }

    void send(const QNComPacket& packet)
    {
        auto wire = packet.toData();
        if (!wire)
            return;
        writes_.push_back(std::move(*wire));
        if (writes_.size() == 1)
            writeNext();
    }

    void writeNext()
    {
        asio::async_write(socket_, asio::buffer(writes_.front()), [self = shared_from_this()](const std::error_code& ec, std::size_t) {
            if (ec)
                return self->close();
            self->writes_.pop_front();
            if (!self->writes_.empty())
                self->writeNext();
            else if (self->closeAfterWrites_)
                self->close();
        });
    }

    std::shared_ptr<ServiceSimulator::Impl> service_;
    Socket socket_;
    int number_;
    std::string password_;
    Stage stage_ = Stage::Identity;
    std::vector<std::uint8_t> buffer_;
    std::size_t used_ = 0;
    std::deque<std::vector<std::uint8_t>> writes_;
    bool closeAfterWrites_ = false;
};

std::optional<std::string> ServiceSimulator::Impl::listenLocal(const std::filesystem::path& path)
{
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    if (ec)
        return "cannot create " + path.parent_path().string() + ": " + ec.message();
    if (std::filesystem::exists(std::filesystem::symlink_status(path))) {
        // Never take the socket away from a service that is running there.
        asio::local::stream_protocol::socket probe(context);
        probe.connect(asio::local::stream_protocol::endpoint(path.string()), ec);
        if (!ec)
            return "a service is already listening on " + path.string();
        std::filesystem::remove(path, ec);
    }
    unixAcceptor.open(asio::local::stream_protocol(), ec);
    if (!ec)
        unixAcceptor.bind(asio::local::stream_protocol::endpoint(path.string()), ec);
    if (!ec)
        unixAcceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec)
        return "cannot listen on " + path.string() + ": " + ec.message();
    acceptLocal();
    return std::nullopt;
}

std::optional<std::string> ServiceSimulator::Impl::listenTcp()
{
    std::error_code ec;
    const auto address = asio::ip::make_address(options.tcpAddress, ec);
    if (ec)
        return "bad listening address " + options.tcpAddress + ": " + ec.message();
    const asio::ip::tcp::endpoint endpoint(address, *options.tcpPort);
    tcpAcceptor.open(endpoint.protocol(), ec);
    if (!ec)
        tcpAcceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec)
        tcpAcceptor.bind(endpoint, ec);
    if (!ec)
        tcpAcceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec)
        return "cannot listen on " + options.tcpAddress + ":" + std::to_string(*options.tcpPort) + ": " + ec.message();
    acceptTcp();
    return std::nullopt;
}

void ServiceSimulator::Impl::acceptLocal()
{
    unixAcceptor.async_accept([self = shared_from_this()](const std::error_code& ec, asio::local::stream_protocol::socket socket) {
        if (ec || self->stopped)
            return;
        Socket generic(self->context);
        generic.assign(asio::generic::stream_protocol(AF_UNIX, SOCK_STREAM), socket.release());
        self->adopt(std::move(generic), "unix", contract::kLocalPassword);
        self->acceptLocal();
    });
}

void ServiceSimulator::Impl::acceptTcp()
{
    tcpAcceptor.async_accept([self = shared_from_this()](const std::error_code& ec, asio::ip::tcp::socket socket) {
        if (ec || self->stopped)
            return;
        const auto protocol = socket.local_endpoint().protocol();
        Socket generic(self->context);
        generic.assign(asio::generic::stream_protocol(protocol.family(), SOCK_STREAM), socket.release());
        self->adopt(std::move(generic), "tcp", self->options.password);
        self->acceptTcp();
    });
}

void ServiceSimulator::Impl::adopt(Socket socket, const char* transport, std::string password)
{
    auto session = std::make_shared<Session>(shared_from_this(), std::move(socket), nextConnection++, std::move(password));
    std::erase_if(sessions, [](const std::weak_ptr<Session>& s) { return s.expired(); });
    sessions.push_back(session);
    session->start(transport);
}

ServiceSimulator::ServiceSimulator(asio::io_context& context, SimulatorOptions options, LogSink log)
    : impl_(std::make_shared<Impl>(context, std::move(options), std::move(log)))
{
}

ServiceSimulator::~ServiceSimulator() = default;

std::optional<std::string> ServiceSimulator::start()
{
    if (impl_->options.socketPath) {
        if (auto error = impl_->listenLocal(*impl_->options.socketPath))
            return error;
    }
    if (impl_->options.tcpPort)
        return impl_->listenTcp();
    return std::nullopt;
}

void ServiceSimulator::stop()
{
    impl_->stopped = true;
    std::error_code ignored;
    if (impl_->unixAcceptor.is_open()) {
        impl_->unixAcceptor.close(ignored);
        std::filesystem::remove(*impl_->options.socketPath, ignored);
    }
    impl_->tcpAcceptor.close(ignored);
    closeAllConnections();
}

void ServiceSimulator::closeAllConnections()
{
    for (const auto& weak : impl_->sessions) {
        if (auto session = weak.lock())
            session->close();
    }
}

std::uint16_t ServiceSimulator::tcpPort() const
{
    std::error_code ec;
    const auto endpoint = impl_->tcpAcceptor.local_endpoint(ec);
    return ec ? 0 : endpoint.port();
}

} // namespace vd::sim
