#include "UsbmuxSimulator.h"

#include <array>
#include <cstdlib>
#include <deque>
#include <map>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#include <asio/local/stream_protocol.hpp>
#include <asio/post.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>
#include <plist/plist.h>

#include "link/ServiceContract.h"

namespace vd::sim {
namespace {

using Socket = asio::local::stream_protocol::socket;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kPlistProtocol = 1;
constexpr std::uint32_t kPlistMessage = 8;
constexpr std::uint32_t kFrameVersion = 1;
constexpr std::uint32_t kFrameEnd = 0;
constexpr std::uint32_t kFramePacket = contract::kFrameTypePacket;

// Daemon requests are a few hundred bytes; anything near this is a broken client.
constexpr std::uint32_t kMaxRequestPayload = 1024 * 1024;

enum Result : std::uint64_t {
    kResultOk = 0,
    kResultIllegalCommand = 1,
    kResultUnknownDevice = 2,
    kResultConnectionRefused = 3,
    kResultInvalidVersion = 6,
};

std::uint32_t readLE32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
void appendLE32(Bytes& out, std::uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(std::uint8_t(v >> shift));
}
std::uint32_t readBE32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
}
void appendBE32(Bytes& out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(std::uint8_t(v >> shift));
}

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

plist_t toPlist(const nlohmann::json& value)
{
    switch (value.type()) {
    case nlohmann::json::value_t::object: {
        plist_t dict = plist_new_dict();
        for (const auto& [key, item] : value.items())
            plist_dict_set_item(dict, key.c_str(), toPlist(item));
        return dict;
    }
    case nlohmann::json::value_t::array: {
        plist_t array = plist_new_array();
        for (const auto& item : value)
            plist_array_append_item(array, toPlist(item));
        return array;
    }
    case nlohmann::json::value_t::string:
        return plist_new_string(value.get_ref<const std::string&>().c_str());
    case nlohmann::json::value_t::boolean:
        return plist_new_bool(value.get<bool>() ? 1 : 0);
    case nlohmann::json::value_t::number_unsigned:
        return plist_new_uint(value.get<std::uint64_t>());
    case nlohmann::json::value_t::number_integer:
        // libplist keeps integers as 64-bit patterns; a negative value round-trips that way.
        return plist_new_uint(static_cast<std::uint64_t>(value.get<std::int64_t>()));
    case nlohmann::json::value_t::number_float:
        return plist_new_real(value.get<double>());
    default:
        return plist_new_string("");
    }
}

// One daemon packet: the little-endian header and the message as XML.
Bytes daemonPacket(std::uint32_t tag, const nlohmann::json& message)
{
    PlistPtr dict(toPlist(message));
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(static_cast<plist_t>(dict.get()), &xml, &length);
    Bytes out;
    out.reserve(16 + length);
    appendLE32(out, 16 + length);
    appendLE32(out, kPlistProtocol);
    appendLE32(out, kPlistMessage);
    appendLE32(out, tag);
    out.insert(out.end(), xml, xml + length);
    plist_to_xml_free(xml);
    return out;
}

Bytes resultPacket(std::uint32_t tag, std::uint64_t number)
{
    return daemonPacket(tag, {{"MessageType", "Result"}, {"Number", number}});
}

Bytes frame(std::uint32_t type, std::uint32_t tag, const std::uint8_t* payload, std::size_t size)
{
    Bytes out;
    out.reserve(16 + size);
    appendBE32(out, kFrameVersion);
    appendBE32(out, type);
    appendBE32(out, tag);
    appendBE32(out, static_cast<std::uint32_t>(size));
    out.insert(out.end(), payload, payload + size);
    return out;
}

std::optional<std::string> stringItem(plist_t dict, const char* key)
{
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    char* text = nullptr;
    plist_get_string_val(node, &text);
    std::string value = text ? text : "";
    std::free(text);
    return value;
}

std::optional<std::uint64_t> uintItem(plist_t dict, const char* key)
{
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_UINT)
        return std::nullopt;
    std::uint64_t value = 0;
    plist_get_uint_val(node, &value);
    return value;
}

// Writes queued in order, one at a time, as asio requires for a stream.
class Outbox {
public:
    explicit Outbox(Socket& socket) : socket_(socket) {}

    template <typename Done>
    void push(Bytes bytes, std::shared_ptr<void> keepAlive, Done onIdle)
    {
        queue_.push_back(std::move(bytes));
        if (queue_.size() == 1)
            writeFront(std::move(keepAlive), std::move(onIdle));
    }
    bool idle() const { return queue_.empty(); }
    void clear() { queue_.clear(); }

private:
    template <typename Done>
    void writeFront(std::shared_ptr<void> keepAlive, Done onIdle)
    {
        asio::async_write(socket_, asio::buffer(queue_.front()),
                          [this, keepAlive, onIdle](const std::error_code& error, std::size_t) {
                              if (error || queue_.empty()) {
                                  queue_.clear();
                                  onIdle(error);
                                  return;
                              }
                              queue_.pop_front();
                              if (queue_.empty())
                                  onIdle(error);
                              else
                                  writeFront(keepAlive, onIdle);
                          });
    }

    Socket& socket_;
    std::deque<Bytes> queue_;
};

} // namespace

class DaemonConnection;

struct UsbmuxSimulator::Impl {
    struct Device {
        bool attached = false;
        nlohmann::json properties = nlohmann::json::object();
        std::map<std::uint16_t, std::filesystem::path> ports;
    };

    Impl(asio::io_context& context, std::filesystem::path path)
        : context(context), path(std::move(path)), acceptor(context)
    {
    }

    void acceptNext(const std::shared_ptr<Impl>& self);
    void broadcast(const Bytes& packet);
    Bytes attachedMessage(std::uint32_t deviceId) const;

    asio::io_context& context;
    std::filesystem::path path;
    asio::local::stream_protocol::acceptor acceptor;
    std::map<std::uint32_t, Device> devices;
    std::set<std::shared_ptr<DaemonConnection>> connections;
};

// One client of the daemon: first daemon packets; after a successful "Connect", frames
// between the client and the device port's service.
class DaemonConnection : public std::enable_shared_from_this<DaemonConnection> {
public:
    DaemonConnection(UsbmuxSimulator::Impl& owner, Socket socket)
        : owner_(owner), client_(std::move(socket)), service_(owner.context)
    {
    }

    void start() { readPacketHeader(); }

    // A connection that went on to carry a device stream hears no more broadcasts: they would
    // land in the middle of the frames.
    bool listening() const { return listening_ && !bridgedDevice_; }
    std::optional<std::uint32_t> bridgedDevice() const { return bridgedDevice_; }

    void sendToClient(Bytes bytes)
    {
        auto self = shared_from_this();
        clientOut_.push(std::move(bytes), self, [this, self](const std::error_code& error) {
            if (error || closeWhenFlushed_)
                close();
        });
    }

    void close()
    {
        if (closed_)
            return;
        closed_ = true;
        std::error_code ignored;
        client_.close(ignored);
        service_.close(ignored);
        owner_.connections.erase(shared_from_this());
    }

private:
    // --- Daemon packets ---------------------------------------------------------------

    void readPacketHeader()
    {
        auto self = shared_from_this();
        asio::async_read(client_, asio::buffer(header_), [this, self](const std::error_code& error, std::size_t) {
            if (error || closed_)
                return close();
            const std::uint32_t size = readLE32(header_.data());
            if (size < 16 || size - 16 > kMaxRequestPayload)
                return close();
            payload_.assign(size - 16, 0);
            asio::async_read(client_, asio::buffer(payload_), [this, self](const std::error_code& error, std::size_t) {
                if (error || closed_)
                    return close();
                handlePacket();
            });
        });
    }

    void handlePacket()
    {
        const std::uint32_t protocol = readLE32(header_.data() + 4);
        const std::uint32_t type = readLE32(header_.data() + 8);
        const std::uint32_t tag = readLE32(header_.data() + 12);
        if (protocol != kPlistProtocol)
            return reply(tag, kResultInvalidVersion);
        if (type != kPlistMessage)
            return reply(tag, kResultIllegalCommand);

        plist_t parsed = nullptr;
        if (!payload_.empty())
            plist_from_memory(reinterpret_cast<const char*>(payload_.data()),
                              static_cast<std::uint32_t>(payload_.size()), &parsed);
        PlistPtr message(parsed);
        if (!parsed || plist_get_node_type(parsed) != PLIST_DICT)
            return reply(tag, kResultIllegalCommand);

        const auto messageType = stringItem(parsed, "MessageType");
        if (messageType == "Listen")
            return listen(tag);
        if (messageType == "Connect")
            return connect(tag, uintItem(parsed, "DeviceID"), uintItem(parsed, "PortNumber"));
        reply(tag, kResultIllegalCommand);
    }

    void reply(std::uint32_t tag, std::uint64_t number)
    {
        sendToClient(resultPacket(tag, number));
        readPacketHeader();
    }

    void listen(std::uint32_t tag)
    {
        sendToClient(resultPacket(tag, kResultOk));
        if (!listening_) {
            listening_ = true;
            for (const auto& [id, device] : owner_.devices) {
                if (device.attached)
                    sendToClient(owner_.attachedMessage(id));
            }
        }
        readPacketHeader();
    }

    void connect(std::uint32_t tag, std::optional<std::uint64_t> deviceId, std::optional<std::uint64_t> portNumber)
    {
        const auto device = deviceId ? owner_.devices.find(static_cast<std::uint32_t>(*deviceId)) : owner_.devices.end();
        if (device == owner_.devices.end() || !device->second.attached)
            return reply(tag, kResultUnknownDevice);
        if (!portNumber)
            return reply(tag, kResultConnectionRefused);
        // The client sends the port's network-order bytes read as a little-endian number.
        const auto swapped = static_cast<std::uint16_t>(*portNumber);
        const auto port = static_cast<std::uint16_t>((swapped << 8) | (swapped >> 8));
        const auto target = device->second.ports.find(port);
        if (target == device->second.ports.end())
            return reply(tag, kResultConnectionRefused);

        const std::uint32_t id = device->first;
        auto self = shared_from_this();
        service_.async_connect(asio::local::stream_protocol::endpoint(target->second.string()), [this, self, tag, id](const std::error_code& error) {
            if (closed_)
                return;
            // The device may have gone while the service was being reached.
            const auto device = owner_.devices.find(id);
            if (error || device == owner_.devices.end() || !device->second.attached) {
                std::error_code ignored;
                service_.close(ignored);
                return reply(tag, error ? kResultConnectionRefused : kResultUnknownDevice);
            }
            bridgedDevice_ = id;
            sendToClient(resultPacket(tag, kResultOk));
            readFrameHeader();
            readService();
        });
    }

    // --- Frames to the service ------------------------------------------------------

    void readFrameHeader()
    {
        auto self = shared_from_this();
        asio::async_read(client_, asio::buffer(header_), [this, self](const std::error_code& error, std::size_t) {
            if (error || closed_)
                return close();
            const std::uint32_t version = readBE32(header_.data());
            const std::uint32_t type = readBE32(header_.data() + 4);
            const std::uint32_t size = readBE32(header_.data() + 12);
            if (version != kFrameVersion || type == kFrameEnd || size > contract::kMaxPacketBytes)
                return close();
            payload_.assign(size, 0);
            asio::async_read(client_, asio::buffer(payload_), [this, self, type](const std::error_code& error, std::size_t) {
                if (error || closed_)
                    return close();
                // Only link packets mean anything to the service; other frame types are dropped.
                if (type == kFramePacket && !payload_.empty())
                    sendToService(std::move(payload_));
                readFrameHeader();
            });
        });
    }

    void sendToService(Bytes bytes)
    {
        auto self = shared_from_this();
        serviceOut_.push(std::move(bytes), self, [this, self](const std::error_code& error) {
            if (error)
                close();
        });
    }

    // --- Packets from the service ---------------------------------------------------

    void readService()
    {
        auto self = shared_from_this();
        service_.async_read_some(asio::buffer(chunk_), [this, self](const std::error_code& error, std::size_t count) {
            if (closed_)
                return;
            if (error) {
                // What the service said before it went must still reach the client.
                if (clientOut_.idle())
                    close();
                else
                    closeWhenFlushed_ = true;
                return;
            }
            fromService_.insert(fromService_.end(), chunk_.begin(), chunk_.begin() + static_cast<std::ptrdiff_t>(count));
            splitServicePackets();
            readService();
        });
    }

    void splitServicePackets()
    {
        std::size_t start = 0;
        for (std::size_t i = 1; i < fromService_.size(); ++i) {
            if (fromService_[i - 1] == 0xDB && fromService_[i] == 0xBC) {
                sendToClient(frame(kFramePacket, UsbmuxSimulator::kServiceFrameTag, fromService_.data() + start,
                                   i + 1 - start));
                start = i + 1;
            }
        }
        fromService_.erase(fromService_.begin(), fromService_.begin() + static_cast<std::ptrdiff_t>(start));
    }

    UsbmuxSimulator::Impl& owner_;
    Socket client_;
    Socket service_;
    Outbox clientOut_{client_};
    Outbox serviceOut_{service_};
    std::array<std::uint8_t, 16> header_{};
    Bytes payload_;
    std::array<std::uint8_t, 64 * 1024> chunk_{};
    Bytes fromService_;
    bool listening_ = false;
    bool closed_ = false;
    bool closeWhenFlushed_ = false;
    std::optional<std::uint32_t> bridgedDevice_;
};

void UsbmuxSimulator::Impl::acceptNext(const std::shared_ptr<Impl>& self)
{
    std::weak_ptr<Impl> weak = self;
    acceptor.async_accept([weak](const std::error_code& error, Socket socket) {
        const auto impl = weak.lock();
        if (!impl || error || !impl->acceptor.is_open())
            return;
        auto connection = std::make_shared<DaemonConnection>(*impl, std::move(socket));
        impl->connections.insert(connection);
        connection->start();
        impl->acceptNext(impl);
    });
}

Bytes UsbmuxSimulator::Impl::attachedMessage(std::uint32_t deviceId) const
{
    auto properties = devices.at(deviceId).properties;
    if (!properties.contains("DeviceID"))
        properties["DeviceID"] = deviceId;
    return daemonPacket(0, {{"MessageType", "Attached"}, {"DeviceID", deviceId}, {"Properties", properties}});
}

void UsbmuxSimulator::Impl::broadcast(const Bytes& packet)
{
    for (const auto& connection : connections) {
        if (connection->listening())
            connection->sendToClient(packet);
    }
}

UsbmuxSimulator::UsbmuxSimulator(asio::io_context& context, std::filesystem::path socketPath)
    : impl_(std::make_shared<Impl>(context, std::move(socketPath)))
{
}

UsbmuxSimulator::~UsbmuxSimulator() { stop(); }

std::optional<std::string> UsbmuxSimulator::start()
{
    std::error_code error;
    std::filesystem::remove(impl_->path, error);
    const asio::local::stream_protocol::endpoint endpoint(impl_->path.string());
    impl_->acceptor.open(endpoint.protocol(), error);
    if (!error)
        impl_->acceptor.bind(endpoint, error);
    if (!error)
        impl_->acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        std::error_code ignored;
        impl_->acceptor.close(ignored);
        return "cannot listen on " + impl_->path.string() + ": " + error.message();
    }
    impl_->acceptNext(impl_);
    return std::nullopt;
}

void UsbmuxSimulator::stop()
{
    if (!impl_->acceptor.is_open())
        return;
    std::error_code ignored;
    impl_->acceptor.close(ignored);
    const auto connections = impl_->connections;
    for (const auto& connection : connections)
        connection->close();
    std::filesystem::remove(impl_->path, ignored);
}

void UsbmuxSimulator::forwardPort(std::uint32_t deviceId, std::uint16_t port, std::filesystem::path serviceSocket)
{
    asio::post(impl_->context, [impl = impl_, deviceId, port, path = std::move(serviceSocket)] {
        impl->devices[deviceId].ports[port] = path;
    });
}

void UsbmuxSimulator::attach(std::uint32_t deviceId, nlohmann::json properties)
{
    asio::post(impl_->context, [impl = impl_, deviceId, properties = std::move(properties)] {
        auto& device = impl->devices[deviceId];
        device.attached = true;
        device.properties = properties.is_object() ? properties : nlohmann::json::object();
        impl->broadcast(impl->attachedMessage(deviceId));
    });
}

void UsbmuxSimulator::detach(std::uint32_t deviceId)
{
    asio::post(impl_->context, [impl = impl_, deviceId] {
        const auto device = impl->devices.find(deviceId);
        if (device == impl->devices.end() || !device->second.attached)
            return;
        device->second.attached = false;
        impl->broadcast(daemonPacket(0, {{"MessageType", "Detached"}, {"DeviceID", deviceId}}));
        const auto connections = impl->connections;
        for (const auto& connection : connections) {
            if (connection->bridgedDevice() == deviceId)
                connection->close();
        }
    });
}

} // namespace vd::sim
