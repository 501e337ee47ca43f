#include "link/PTUSBHub.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include <plist/plist.h>

#include "link/JsonValues.h"
#include "link/ServiceContract.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "platform/ThreadCheck.h"

namespace vd {

namespace {

void putLE32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::uint32_t getLE32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

Error hubError(long long code, std::string text)
{
    return Error{kPTUSBHubErrorDomain, code, std::move(text)};
}

// Daemon messages nest a few levels; a deeper one is refused rather than converted, because the
// conversion (and every later walk of the result) recurses once per level.
constexpr int kMaxPlistDepth = 32;

PTPlistMessage fromPlist(plist_t node, int depth, bool& tooDeep)
{
    if (depth > kMaxPlistDepth) {
        tooDeep = true;
        return nullptr;
    }
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return value != 0;
    }
    case PLIST_UINT: {
        std::uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return value;
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return value;
    }
    case PLIST_STRING: {
        // The copying getter asserts that the stored length matches the text up to its first
        // NUL, which a malformed message can break; the pointer getter only reads the text.
        const char* text = plist_get_string_ptr(node, nullptr);
        return std::string(text ? text : "");
    }
    case PLIST_KEY: {
        char* text = nullptr;
        plist_get_key_val(node, &text);
        std::string value = text ? text : "";
        std::free(text);
        return value;
    }
    case PLIST_DATA: {
        char* bytes = nullptr;
        std::uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        PTPlistMessage array = PTPlistMessage::array();
        for (std::uint64_t i = 0; i < length; ++i)
            array.push_back(static_cast<std::uint8_t>(bytes[i]));
        std::free(bytes);
        return array;
    }
    case PLIST_DATE: {
        std::int32_t seconds = 0;
        std::int32_t micros = 0;
        plist_get_date_val(node, &seconds, &micros);
        return seconds + micros / 1e6;
    }
    case PLIST_ARRAY: {
        PTPlistMessage array = PTPlistMessage::array();
        for (std::uint32_t i = 0; i < plist_array_get_size(node); ++i)
            array.push_back(fromPlist(plist_array_get_item(node, i), depth + 1, tooDeep));
        return array;
    }
    case PLIST_DICT: {
        PTPlistMessage object = PTPlistMessage::object();
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, iter, &key, &value);
            if (!value) {
                std::free(key);
                break;
            }
            object[key ? key : ""] = fromPlist(value, depth + 1, tooDeep);
            std::free(key);
        }
        std::free(iter);
        return object;
    }
    default:
        return nullptr;
    }
}

plist_t toPlist(const PTPlistMessage& value)
{
    if (value.is_object()) {
        plist_t dict = plist_new_dict();
        for (const auto& [key, item] : value.items())
            plist_dict_set_item(dict, key.c_str(), toPlist(item));
        return dict;
    }
    if (value.is_array()) {
        plist_t array = plist_new_array();
        for (const auto& item : value)
            plist_array_append_item(array, toPlist(item));
        return array;
    }
    if (value.is_boolean())
        return plist_new_bool(value.get<bool>() ? 1 : 0);
    if (value.is_number_unsigned())
        return plist_new_uint(value.get<std::uint64_t>());
    if (value.is_number_integer())
        return plist_new_uint(static_cast<std::uint64_t>(value.get<std::int64_t>()));
    if (value.is_number_float())
        return plist_new_real(value.get<double>());
    if (value.is_string())
        return plist_new_string(value.get<std::string>().c_str());
    return plist_new_string("");
}

// A daemon's strings need not be UTF-8; the log shows replacement characters for bad bytes
// rather than let the writer throw.
std::string logText(const PTPlistMessage& message)
{
    return message.dump(-1, ' ', false, PTPlistMessage::error_handler_t::replace);
}

std::mutex identityMutex;
std::string applicationName;
std::string applicationVersion;

} // namespace

namespace usbmux {

std::vector<std::uint8_t> encodePacket(std::uint32_t tag, std::string_view payload)
{
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + payload.size());
    putLE32(out, static_cast<std::uint32_t>(kHeaderSize + payload.size()));
    putLE32(out, kProtocolPlist);
    putLE32(out, kTypePlistMessage);
    putLE32(out, tag);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::optional<PTPlistMessage> parsePlist(const std::uint8_t* bytes, std::size_t length, std::optional<Error>& error)
{
    plist_t root = nullptr;
    if (length > 0 && length <= UINT32_MAX)
        plist_from_memory(reinterpret_cast<const char*>(bytes), static_cast<std::uint32_t>(length), &root);
    bool tooDeep = false;
    PTPlistMessage message = root ? fromPlist(root, 0, tooDeep) : nullptr;
    if (root)
        plist_free(root);
    if (!root || tooDeep) {
        error = hubError(0, "Could not parse the property list");
        return std::nullopt;
    }
    return message;
}

std::string toXmlPlist(const PTPlistMessage& dictionary)
{
    plist_t root = toPlist(dictionary);
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    std::string text(xml ? xml : "", xml ? length : 0);
    plist_to_xml_free(xml);
    plist_free(root);
    return text;
}

std::uint32_t portNumberOnWire(std::uint32_t port)
{
    return ((port << 8) & 0xFFFFu) | (port >> 8);
}

std::optional<Error> errorFromResult(const PTPlistMessage& message)
{
    const auto* value = json::member(message, "Number");
    if (!value || !value->is_number())
        return hubError(0, "");
    // A real out of the integers' range saturates rather than overflow the conversion.
    const long long number = json::toInt64(value);
    switch (number) {
    case 0:
        return std::nullopt;
    case 1:
        return hubError(number, "illegal command");
    case 2:
        return hubError(number, "unknown device");
    case 3:
        return hubError(number, "connection refused");
    case 6:
        return hubError(number, "invalid version");
    default:
        return hubError(number, "Unspecified error");
    }
}

} // namespace usbmux

std::shared_ptr<PTUSBChannel> PTUSBChannel::create()
{
    return std::shared_ptr<PTUSBChannel>(new PTUSBChannel());
}

void PTUSBChannel::setApplicationIdentity(std::string name, std::string version)
{
    std::lock_guard lock(identityMutex);
    applicationName = std::move(name);
    applicationVersion = std::move(version);
}

bool PTUSBChannel::openOnQueue(std::shared_ptr<DispatchQueue> queue, std::optional<Error>& error,
                               UsbmuxStream::EndHandler onEnd)
{
    VD_ASSERT_ON(queue);
    queue_ = queue;
    channel_ = UsbmuxStream::open(std::move(queue), std::move(onEnd), error);
    return channel_ != nullptr;
}

void PTUSBChannel::sendRequest(PTPlistMessage message, ReplyCallback callback)
{
    VD_ASSERT_ON(queue_);
    const std::uint32_t tag = ++nextPacketTag_;
    PTPlistMessage dictionary = message.is_object() ? std::move(message) : PTPlistMessage::object();
    {
        std::lock_guard lock(identityMutex);
        if (!applicationName.empty()) {
            dictionary["ProgName"] = applicationName;
            dictionary["ClientVersionString"] = applicationVersion;
        }
    }
    const std::string xml = usbmux::toXmlPlist(dictionary);
    if (ended_ || !channel_ || xml.size() > 0xFFFFFFFFull - usbmux::kHeaderSize) {
        queue_->async([callback = std::move(callback)] { callback(posixError(ENOTCONN), nullptr); });
        return;
    }
    channel_->write(usbmux::encodePacket(tag, xml),
        [self = shared_from_this(), tag, callback = std::move(callback)](std::optional<Error> error) mutable {
            if (error || self->ended_) {
                callback(error ? error : posixError(ENOTCONN), nullptr);
                return;
            }
            self->responseQueue_[tag] = std::move(callback);
            if (!self->isReadingPackets_)
                self->readPacket();
        });
}

void PTUSBChannel::listenWithBroadcastHandler(BroadcastHandler handler, std::function<void(std::optional<Error>)> callback)
{
    VD_ASSERT_ON(queue_);
    broadcastHandler_ = std::move(handler);
    autoReadPackets_ = true;
    if (!isReadingPackets_)
        readPacket();
    sendRequest({{"MessageType", "Listen"}},
        [callback = std::move(callback)](std::optional<Error> error, const PTPlistMessage& reply) {
            if (!error)
                error = usbmux::errorFromResult(reply);
            callback(error);
        });
}

void PTUSBChannel::readPacket()
{
    if (ended_ || !channel_)
        return;
    isReadingPackets_ = true;
    channel_->read(4, [self = shared_from_this()](std::optional<Error> error, std::vector<std::uint8_t> sizeBytes, bool ended) {
        if (self->ended_)
            return;
        if (error || ended) {
            self->endConnection(error ? *error : posixError(ECONNRESET));
            return;
        }
        const std::uint32_t size = getLE32(sizeBytes.data());
        if (size < usbmux::kHeaderSize) {
            self->endConnection(hubError(0, "Received a packet that is too small"));
            return;
        }
        if (size >= 4294967280u || size - usbmux::kHeaderSize > contract::kMaxPacketBytes) {
            self->endConnection(hubError(1, "Received a packet that is too large"));
            return;
        }
        self->channel_->read(size - 4, [self](std::optional<Error> error, std::vector<std::uint8_t> rest, bool ended) {
            if (self->ended_)
                return;
            if (error || ended) {
                self->endConnection(error ? *error : posixError(ECONNRESET));
                return;
            }
            const std::uint32_t protocol = getLE32(rest.data());
            const std::uint32_t type = getLE32(rest.data() + 4);
            const std::uint32_t tag = getLE32(rest.data() + 8);
            std::optional<Error> packetError;
            PTPlistMessage message;
            if (protocol != usbmux::kProtocolPlist)
                packetError = hubError(0, "Unexpected package protocol");
            else if (type != usbmux::kTypePlistMessage)
                packetError = hubError(0, "Unexpected package type");
            else if (rest.size() > 12) {
                if (auto parsed = usbmux::parsePlist(rest.data() + 12, rest.size() - 12, packetError))
                    message = std::move(*parsed);
            }
            self->isReadingPackets_ = false;
            self->deliver(packetError, message, tag);
            if (self->autoReadPackets_ && !self->isReadingPackets_)
                self->readPacket();
        });
    });
}

void PTUSBChannel::deliver(std::optional<Error> error, const PTPlistMessage& message, std::uint32_t tag)
{
    if (tag == 0) {
        if (broadcastHandler_ && !error)
            broadcastHandler_(message);
        return;
    }
    auto found = responseQueue_.find(tag);
    if (found == responseQueue_.end()) {
        log::info("Warning: Ignoring reply packet for which there is no registered callback. Packet => " + logText(message));
        return;
    }
    auto callback = std::move(found->second);
    responseQueue_.erase(found);
    callback(error, message);
}

void PTUSBChannel::endConnection(const Error& error)
{
    if (ended_)
        return;
    ended_ = true;
    isReadingPackets_ = false;
    if (channel_)
        channel_->close();
    auto pending = std::move(responseQueue_);
    responseQueue_.clear();
    for (auto& [tag, callback] : pending)
        callback(error, nullptr);
}

void PTUSBChannel::cancel()
{
    if (channel_)
        channel_->cancel();
}

void PTUSBChannel::stop()
{
    if (channel_)
        channel_->close();
}

std::shared_ptr<PTUSBHub> PTUSBHub::sharedHub()
{
    static const std::shared_ptr<PTUSBHub> hub = create();
    return hub;
}

std::shared_ptr<PTUSBHub> PTUSBHub::create(std::shared_ptr<NotificationCenter> center)
{
    return std::shared_ptr<PTUSBHub>(new PTUSBHub(center ? std::move(center) : NotificationCenter::defaultCenter()));
}

void PTUSBHub::listenOnQueue(std::shared_ptr<DispatchQueue> queue, StartCallback onStart, UsbmuxStream::EndHandler onEnd)
{
    VD_ASSERT_ON(MainQueue::shared());
    if (channel_) {
        onStart(std::nullopt);
        return;
    }
    auto channel = PTUSBChannel::create();
    std::weak_ptr<PTUSBHub> weakHub = weak_from_this();
    std::optional<Error> error;
    const bool opened = channel->openOnQueue(queue, error,
        [weakHub, weakChannel = std::weak_ptr<PTUSBChannel>(channel), onEnd = std::move(onEnd)](std::optional<Error> closing) {
            // A later listen may reuse the hub once this daemon connection is gone.
            if (auto hub = weakHub.lock(); hub && hub->channel_ == weakChannel.lock())
                hub->channel_.reset();
            if (onEnd)
                onEnd(closing);
        });
    if (!opened) {
        onStart(error);
        return;
    }
    channel_ = channel;
    channel->listenWithBroadcastHandler(
        [weakHub](const PTPlistMessage& message) {
            if (auto hub = weakHub.lock())
                hub->handleBroadcast(message);
        },
        std::move(onStart));
}

void PTUSBHub::handleBroadcast(const PTPlistMessage& message)
{
    VD_ASSERT_ON(MainQueue::shared());
    const std::string type = message.is_object() && message.contains("MessageType") && message["MessageType"].is_string()
        ? message["MessageType"].get<std::string>()
        : std::string();
    const auto deviceID = [&]() -> long long {
        const auto* value = json::member(message, "DeviceID");
        return value && value->is_number() ? json::toInt64(value) : 0;
    };
    if (type == "Attached") {
        devices_[deviceID()] = message;
        center_->post(kPTUSBDeviceDidAttachNotification, this, message);
    } else if (type == "Detached") {
        devices_.erase(deviceID());
        center_->post(kPTUSBDeviceDidDetachNotification, this, message);
    } else {
        log::info("Warning: Unhandled broadcast message: " + logText(message));
    }
}

void PTUSBHub::connectToDevice(long long deviceID, std::uint32_t port, ConnectCallback onStart, UsbmuxStream::EndHandler onEnd)
{
    VD_ASSERT_ON(MainQueue::shared());
    auto channel = PTUSBChannel::create();
    std::optional<Error> error;
    if (!channel->openOnQueue(MainQueue::shared(), error, std::move(onEnd))) {
        onStart(error, nullptr);
        return;
    }
    PTPlistMessage message = {{"MessageType", "Connect"},
                              {"DeviceID", deviceID},
                              {"PortNumber", usbmux::portNumberOnWire(port)}};
    channel->sendRequest(std::move(message),
        [channel, onStart = std::move(onStart)](std::optional<Error> error, const PTPlistMessage& reply) {
            if (!error)
                error = usbmux::errorFromResult(reply);
            if (error) {
                channel->stop();
                onStart(error, nullptr);
                return;
            }
            onStart(std::nullopt, channel->stream());
        });
}

} // namespace vd
