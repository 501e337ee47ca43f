#include "ServiceSimulator.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include <asio/generic/stream_protocol.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include "ChaosAgent.h"
#include "SimResponder.h"
#include "link/JsonValues.h"
#include "link/QNComPacket.h"
#include "link/ServiceContract.h"

namespace vd::sim {
namespace {

using Dictionary = QNComPacket::Dictionary;
using Socket = asio::generic::stream_protocol::socket;

constexpr std::size_t kReceiveChunk = 64 * 1024;
constexpr auto kDripInterval = std::chrono::milliseconds(100);
// Current tunnels are pushed once a second of the service's time, as often as clients poll.
constexpr std::uint64_t kStepsPerTunnelPush = 1000 / TrafficModel::kStepMs;
// A late timer catches up on at most this much; beyond it the service's time falls behind.
constexpr auto kMaxCatchUp = std::chrono::seconds(1);

double wallClockSeconds()
{
    using namespace std::chrono;
    return duration_cast<duration<double>>(system_clock::now().time_since_epoch()).count();
}

} // namespace

class Session;

struct ServiceSimulator::Impl : std::enable_shared_from_this<ServiceSimulator::Impl> {
    Impl(asio::io_context& context, SimulatorOptions options, LogSink log)
        : context(context), options(std::move(options)), log(std::move(log)),
          model(ModelOptions{this->options.seed, this->options.scale, this->options.bodyGallery, this->options.idleShare}),
          // The service has been running for as long as the model's warm-up.
          responder(model, wallClockSeconds() - static_cast<double>(model.nowMs()) / 1000), unixAcceptor(context),
          tcpAcceptor(context), ticker(context)
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
    void scheduleTick();
    void tick();
    void pushDns();
    std::vector<std::shared_ptr<Session>> liveSessions();

    asio::io_context& context;
    SimulatorOptions options;
    LogSink log;
    TrafficModel model;
    SimResponder responder;
    asio::local::stream_protocol::acceptor unixAcceptor;
    asio::ip::tcp::acceptor tcpAcceptor;
    asio::steady_timer ticker;
    std::vector<std::weak_ptr<Session>> sessions;
    int nextConnection = 1;
    bool stopped = false;
};

// One client connection: greeting, identity, password, then requests and pushes.
class Session : public std::enable_shared_from_this<Session>, private ChaosLink {
public:
    using Wire = std::shared_ptr<const Bytes>;

    Session(std::shared_ptr<ServiceSimulator::Impl> service, Socket socket, int number, std::string password)
        : service_(std::move(service)), socket_(std::move(socket)), number_(number), password_(std::move(password)),
          paceTimer_(socket_.get_executor()), chaosTimer_(socket_.get_executor())
    {
        if (const auto seed = service_->options.chaosSeed)
            chaos_ = std::make_unique<ChaosAgent>(*seed, number_, service_->model, service_->responder);
    }

    void start(const char* transport)
    {
        service_->writeLog({{"conn", number_}, {"event", "open"}, {"transport", transport}});
        QNComPacket greeting = QNComPacket::initWithId(0);
        greeting.setMessage(service_->options.greeting);
        const auto wire = greeting.toData();
        if (!(wire && chaos_ && chaos_->disturbLogin(*wire, *this)))
            send(greeting);
        receive();
    }

    void close()
    {
        if (!socket_.is_open())
            return;
        std::error_code ignored;
        paceTimer_.cancel();
        chaosTimer_.cancel();
        socket_.shutdown(asio::socket_base::shutdown_both, ignored);
        socket_.close(ignored);
        service_->writeLog({{"conn", number_}, {"event", "close"}});
    }

    bool ready() const { return stage_ == Stage::Ready && socket_.is_open() && !closeAfterWrites_; }
    const ClientState& client() const { return client_; }

    // A tunnel report is skipped while the previous one is still unsent: a slow client gets
    // fewer reports instead of an ever longer queue.
    void pushTunnels(const Wire& wire)
    {
        if (tunnelPushesQueued_ == 0)
            enqueue(wire, true);
    }
    void push(const Wire& wire) { enqueue(wire, false); }

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

    void protocolError(const std::string& what) const
    {
        service_->writeLog({{"conn", number_}, {"protocol_error", what}});
    }

    // A client that breaks the handshake is told so and let go.
    void refuseAndClose(const std::optional<QNComPacket>& packet, const std::string& error, const std::string& message)
    {
        protocolError(error);
        QNComPacket reply = QNComPacket::initWithId(packet ? packet->id_() : 0);
        reply.setCode(0);
        reply.setMessage(message);
        closeAfterWrites_ = true;
        send(reply);
    }

    // The identity packet is a fresh packet with nothing but "v", "c" and "i".
    static bool isIdentity(const QNComPacket& packet)
    {
        const auto& dic = packet.dic();
        const auto* id = json::member(dic, "i");
        const auto* code = json::member(dic, "c");
        if (!id || !id->is_number_integer() || !code || !code->is_number_integer() || *code != 1)
            return false;
        for (const auto& member : dic.items()) {
            if (member.key() != "v" && member.key() != "c" && member.key() != "i")
                return false;
        }
        return true;
    }

    void handle(std::span<const std::uint8_t> bytes)
    {
        const auto packet = QNComPacket::initWithData(bytes);
        service_->writeLog({{"conn", number_}, {"recv", packet ? packet->dic() : Dictionary("undecodable")}});
        if (!socket_.is_open() || closeAfterWrites_)
            return;
        if (packet && !packet->dic().is_object()) {
            protocolError("packet is not a JSON object");
            if (stage_ != Stage::Ready)
                refuseAndClose(std::nullopt, "handshake broken by a packet that is not an object", "Protocol error");
            return;
        }
        switch (stage_) {
        case Stage::Identity: {
            if (!packet)
                return refuseAndClose(packet, "undecodable packet where the identity packet belongs", "Identity expected");
            if (!isIdentity(*packet))
                return refuseAndClose(packet, "expected the identity packet (only \"v\", \"c\" 1 and \"i\")", "Identity expected");
            client_.lastId = packet->id_();
            QNComPacket reply = QNComPacket::initWithId(packet->id_());
            reply.setCode(contract::kCodeIdentityAccepted);
            reply.setMessage("Password required");
            stage_ = Stage::Password;
            return send(reply);
        }
        case Stage::Password: {
            if (!packet)
                return refuseAndClose(packet, "undecodable packet where the password packet belongs", "Password expected");
            const auto* data = packet->data();
            const auto* given = data ? json::member(*data, "password") : nullptr;
            const auto* id = json::member(packet->dic(), "i");
            if (!given || !given->is_string() || json::member(packet->dic(), "t") || !id || !id->is_number_integer())
                return refuseAndClose(packet, "expected the password packet (\"d\": {\"password\": text})", "Password expected");
            if (client_.lastId && packet->id_() <= *client_.lastId)
                protocolError("id " + std::to_string(packet->id_()) + " does not follow " + std::to_string(*client_.lastId));
            client_.lastId = packet->id_();
            QNComPacket reply = QNComPacket::initWithId(packet->id_());
            if (*given != password_) {
                reply.setCode(0);
                reply.setMessage("Wrong password");
                closeAfterWrites_ = true;
                return send(reply);
            }
            stage_ = Stage::Ready;
            send(reply);
            send(service_->responder.serviceInfo());
            if (chaos_)
                scheduleChaos(ChaosAgent::kFirstActDelay);
            return;
        }
        case Stage::Ready: {
            if (!packet)
                return protocolError("undecodable packet");
            auto outcome = service_->responder.reply(*packet, client_);
            if (outcome.protocolError)
                protocolError(*outcome.protocolError);
            if (chaos_)
                chaos_->answer(*packet, outcome.replies, *this);
            for (auto& reply : outcome.replies) {
                logIfStorable(*packet, reply);
                enqueue(std::make_shared<const Bytes>(std::move(reply)), false);
            }
            if (outcome.dnsChanged)
                service_->pushDns();
            return;
        }
        }
    }

    // Bodies and icons are what a client keeps in files: the log holds them as they went out,
    // so what the client stored can be checked against them.
    void logIfStorable(const QNComPacket& request, const Bytes& reply) const
    {
        if (!carriesStoredContent(contract::Command{request.cmd()}))
            return;
        const auto sent = QNComPacket::initWithData(reply);
        service_->writeLog({{"conn", number_}, {"sent", sent ? sent->dic() : Dictionary("undecodable")}});
    }

    void writeChaos(Bytes bytes, WritePace pace) override { enqueue(std::make_shared<const Bytes>(std::move(bytes)), false, pace); }

    void logChaos(Dictionary line) override
    {
        Dictionary numbered = {{"conn", number_}};
        for (auto& member : line.items())
            numbered[member.key()] = std::move(member.value());
        service_->writeLog(numbered);
    }

    void scheduleChaos(std::chrono::milliseconds pause)
    {
        chaosTimer_.expires_after(pause);
        chaosTimer_.async_wait([self = shared_from_this()](const std::error_code& ec) {
            if (!ec && self->socket_.is_open())
                self->scheduleChaos(self->chaos_->act(*self));
        });
    }

    void send(const QNComPacket& packet)
    {
        auto wire = packet.toData();
        if (wire)
            enqueue(std::make_shared<const Bytes>(std::move(*wire)), false);
    }

    void enqueue(Wire wire, bool tunnelPush, WritePace pace = {})
    {
        if (!socket_.is_open())
            return;
        tunnelPushesQueued_ += tunnelPush;
        writes_.push_back({std::move(wire), tunnelPush, pace});
        if (writes_.size() == 1)
            writeNext();
    }

    void writeNext()
    {
        const Write& front = writes_.front();
        std::size_t length = front.wire->size() - front.offset;
        if (front.pace.kind == WritePace::Kind::drip && front.offset < front.pace.count)
            length = 1;
        else if (front.pace.kind == WritePace::Kind::cut)
            length = std::min(front.pace.count, front.wire->size()) - front.offset;
        asio::async_write(socket_, asio::buffer(front.wire->data() + front.offset, length),
                          [self = shared_from_this()](const std::error_code& ec, std::size_t count) {
                              if (ec)
                                  return self->close();
                              self->wrote(count);
                          });
    }

    void wrote(std::size_t count)
    {
        Write& front = writes_.front();
        front.offset += count;
        switch (front.pace.kind) {
        case WritePace::Kind::whole: break;
        case WritePace::Kind::endless: front.offset = 0; return writeNext();
        case WritePace::Kind::cut: return close();
        case WritePace::Kind::drip:
            if (front.offset < front.wire->size()) {
                paceTimer_.expires_after(kDripInterval);
                paceTimer_.async_wait([self = shared_from_this()](const std::error_code& ec) {
                    if (!ec && self->socket_.is_open())
                        self->writeNext();
                });
                return;
            }
            break;
        }
        tunnelPushesQueued_ -= front.tunnelPush;
        writes_.pop_front();
        if (!writes_.empty())
            writeNext();
        else if (closeAfterWrites_)
            close();
    }

    struct Write {
        Wire wire;
        bool tunnelPush;
        WritePace pace;
        std::size_t offset = 0;
    };

    std::shared_ptr<ServiceSimulator::Impl> service_;
    Socket socket_;
    int number_;
    std::string password_;
    Stage stage_ = Stage::Identity;
    ClientState client_;
    std::vector<std::uint8_t> buffer_;
    std::size_t used_ = 0;
    std::deque<Write> writes_;
    int tunnelPushesQueued_ = 0;
    bool closeAfterWrites_ = false;
    asio::steady_timer paceTimer_;
    asio::steady_timer chaosTimer_;
    std::unique_ptr<ChaosAgent> chaos_;
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

std::vector<std::shared_ptr<Session>> ServiceSimulator::Impl::liveSessions()
{
    std::vector<std::shared_ptr<Session>> live;
    for (const auto& weak : sessions) {
        if (auto session = weak.lock(); session && session->ready())
            live.push_back(std::move(session));
    }
    return live;
}

void ServiceSimulator::Impl::scheduleTick()
{
    const auto now = std::chrono::steady_clock::now();
    // Steps keep to the clock: a late step is followed at once by the next one, unless the
    // service fell so far behind that its own time had better slip.
    auto next = ticker.expiry() + options.tickInterval;
    if (next < now - kMaxCatchUp || ticker.expiry() == asio::steady_timer::time_point())
        next = now + options.tickInterval;
    ticker.expires_at(next);
    ticker.async_wait([weak = weak_from_this()](const std::error_code& ec) {
        const auto self = weak.lock();
        if (ec || !self || self->stopped)
            return;
        self->tick();
        self->scheduleTick();
    });
}

void ServiceSimulator::Impl::tick()
{
    const auto result = model.step();
    const auto live = liveSessions();
    if (live.empty())
        return;
    // Each push is written once and shared by every client that wants it.
    if (model.steps() % kStepsPerTunnelPush == 0) {
        std::shared_ptr<const Bytes> report;
        for (const auto& session : live) {
            if (!session->client().pushTunnels)
                continue;
            if (!report)
                report = std::make_shared<const Bytes>(responder.tunnelPush());
            session->pushTunnels(report);
        }
    }
    if (result.dnsChanged)
        pushDns();
    if (!result.udpTexts.empty()) {
        std::vector<std::shared_ptr<const Bytes>> records;
        for (const auto& session : live) {
            if (!session->client().pushUDP)
                continue;
            if (records.empty()) {
                for (const auto& text : result.udpTexts)
                    records.push_back(std::make_shared<const Bytes>(SimResponder::udpPush(text)));
            }
            for (const auto& record : records)
                session->push(record);
        }
    }
}

void ServiceSimulator::Impl::pushDns()
{
    std::shared_ptr<const Bytes> table;
    for (const auto& session : liveSessions()) {
        if (!session->client().pushDNS)
            continue;
        if (!table)
            table = std::make_shared<const Bytes>(responder.dnsPush());
        session->push(table);
    }
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
    if (impl_->options.tcpPort) {
        if (auto error = impl_->listenTcp())
            return error;
    }
    if (impl_->options.tickInterval.count() > 0)
        impl_->scheduleTick();
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
    impl_->ticker.cancel();
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
