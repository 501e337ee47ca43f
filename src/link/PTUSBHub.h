#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "link/UsbmuxStream.h"
#include "platform/DispatchQueue.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"

namespace vd {

// A daemon message: a property-list dictionary held as ordered JSON. Integers stay unsigned,
// data becomes an array of bytes, dates become seconds since 2001.
using PTPlistMessage = nlohmann::ordered_json;

inline constexpr const char* kPTUSBHubErrorDomain = "PTUSBHubError";
inline constexpr const char* kPTUSBDeviceDidAttachNotification = "PTUSBDeviceDidAttachNotification";
inline constexpr const char* kPTUSBDeviceDidDetachNotification = "PTUSBDeviceDidDetachNotification";

namespace usbmux {
inline constexpr std::uint32_t kHeaderSize = 16;
inline constexpr std::uint32_t kProtocolPlist = 1;
inline constexpr std::uint32_t kTypePlistMessage = 8;

std::vector<std::uint8_t> encodePacket(std::uint32_t tag, std::string_view payload);
// Any encoding libplist reads (XML or binary); nullopt with `error` set when it is not one.
std::optional<PTPlistMessage> parsePlist(const std::uint8_t* bytes, std::size_t length, std::optional<Error>& error);
std::string toXmlPlist(const PTPlistMessage& dictionary);
std::uint32_t portNumberOnWire(std::uint32_t port);
// The error carried by a result message, or none for "Number" 0.
std::optional<Error> errorFromResult(const PTPlistMessage& message);
} // namespace usbmux

// One connection to the USB daemon. All its work and callbacks happen on the queue it was
// opened on.
class PTUSBChannel : public std::enable_shared_from_this<PTUSBChannel> {
public:
    using ReplyCallback = std::function<void(std::optional<Error>, const PTPlistMessage&)>;
    using BroadcastHandler = std::function<void(const PTPlistMessage&)>;

    static std::shared_ptr<PTUSBChannel> create();
    // ProgName and ClientVersionString go into every message once they are known.
    static void setApplicationIdentity(std::string name, std::string version);

    bool openOnQueue(std::shared_ptr<DispatchQueue> queue, std::optional<Error>& error, UsbmuxStream::EndHandler onEnd);
    void sendRequest(PTPlistMessage message, ReplyCallback callback);
    void listenWithBroadcastHandler(BroadcastHandler handler, std::function<void(std::optional<Error>)> callback);
    void cancel();
    void stop();
    const std::shared_ptr<UsbmuxStream>& stream() const { return channel_; }

private:
    PTUSBChannel() = default;
    void readPacket();
    void deliver(std::optional<Error> error, const PTPlistMessage& message, std::uint32_t tag);
    void endConnection(const Error& error);

    std::shared_ptr<UsbmuxStream> channel_;
    std::shared_ptr<DispatchQueue> queue_;
    std::uint32_t nextPacketTag_ = 0;
    std::map<std::uint32_t, ReplyCallback> responseQueue_;
    bool autoReadPackets_ = false;
    bool isReadingPackets_ = false;
    bool ended_ = false;
    BroadcastHandler broadcastHandler_;
};

// Watches devices come and go, and opens streams to device ports, through the USB daemon. Used
// from the main queue only, which is also the queue it listens on.
class PTUSBHub : public std::enable_shared_from_this<PTUSBHub> {
public:
    using StartCallback = std::function<void(std::optional<Error>)>;
    using ConnectCallback = std::function<void(std::optional<Error>, std::shared_ptr<UsbmuxStream>)>;

    static std::shared_ptr<PTUSBHub> sharedHub();
    static std::shared_ptr<PTUSBHub> create(std::shared_ptr<NotificationCenter> center = nullptr);

    void listenOnQueue(std::shared_ptr<DispatchQueue> queue, StartCallback onStart, UsbmuxStream::EndHandler onEnd);
    void connectToDevice(long long deviceID, std::uint32_t port, ConnectCallback onStart, UsbmuxStream::EndHandler onEnd);
    // The last "Attached" message of each device still attached, by device id.
    std::map<long long, PTPlistMessage> attachedDevices() const { return devices_; }

private:
    explicit PTUSBHub(std::shared_ptr<NotificationCenter> center) : center_(std::move(center)) {}
    void handleBroadcast(const PTPlistMessage& message);

    std::shared_ptr<NotificationCenter> center_;
    std::shared_ptr<PTUSBChannel> channel_;
    std::map<long long, PTPlistMessage> devices_;
};

} // namespace vd
