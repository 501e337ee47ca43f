#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/PTUSBHub.h"
#include "link/UsbmuxStream.h"
#include "platform/DispatchQueue.h"
#include "platform/Error.h"

namespace vd {

inline constexpr const char* kPTProtocolErrorDomain = "PTProtocolError";

// A received payload; the buffer stays alive as long as any copy of this does.
class PTData {
public:
    explicit PTData(std::shared_ptr<const std::vector<std::uint8_t>> buffer) : buffer_(std::move(buffer)) {}
    const std::uint8_t* data() const { return buffer_->data(); }
    std::size_t length() const { return buffer_->size(); }
    const std::vector<std::uint8_t>& bytes() const { return *buffer_; }

private:
    std::shared_ptr<const std::vector<std::uint8_t>> buffer_;
};

namespace frame {
inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::uint32_t kTypeEndOfStream = 0;
} // namespace frame

// Frame reading and writing over a stream; its completions run on its queue.
class PTProtocol : public std::enable_shared_from_this<PTProtocol> {
public:
    using FrameCallback = std::function<void(std::optional<Error>, std::uint32_t type, std::uint32_t tag, std::uint32_t payloadSize)>;
    using PayloadCallback = std::function<void(std::optional<Error>, std::shared_ptr<const std::vector<std::uint8_t>>, bool ended)>;
    using DiscardCallback = std::function<void(std::optional<Error>, bool ended)>;
    using WriteCallback = std::function<void(std::optional<Error>)>;

    // The one protocol of a queue, made on first request; it lives as long as the queue does.
    static std::shared_ptr<PTProtocol> sharedProtocolForQueue(const std::shared_ptr<DispatchQueue>& queue);

    explicit PTProtocol(std::shared_ptr<DispatchQueue> queue) : queue_(std::move(queue)) {}
    std::shared_ptr<DispatchQueue> queue() const { return queue_.lock(); }

    static std::vector<std::uint8_t> createFrame(std::uint32_t type, std::uint32_t tag, const std::vector<std::uint8_t>& payload);
    void sendFrameOfType(std::uint32_t type, std::uint32_t tag, const std::vector<std::uint8_t>& payload,
                         const std::shared_ptr<UsbmuxStream>& channel, WriteCallback callback);
    void readFrameOverChannel(const std::shared_ptr<UsbmuxStream>& channel, FrameCallback callback);
    void readPayloadOfSize(std::size_t size, const std::shared_ptr<UsbmuxStream>& channel, PayloadCallback callback);
    void readAndDiscardDataOfSize(std::size_t size, const std::shared_ptr<UsbmuxStream>& channel, DiscardCallback callback);

private:
    std::weak_ptr<DispatchQueue> queue_;
};

class PTChannel;

// Every member may be left empty: an empty operation is one the delegate does not have.
struct PTChannelDelegate {
    std::function<bool(PTChannel&, std::uint32_t type, std::uint32_t tag, std::uint32_t payloadSize)> shouldAcceptFrame;
    std::function<void(PTChannel&, std::uint32_t type, std::uint32_t tag, std::optional<PTData> payload)> didReceiveFrame;
    std::function<void(PTChannel&, std::optional<Error>)> didEndWithError;
};

// A frame channel to a device port. Used from the main queue only.
class PTChannel : public std::enable_shared_from_this<PTChannel> {
public:
    enum State : std::uint8_t { None = 0, Connecting = 1, Connected = 2, Listening = 3 };
    using Callback = std::function<void(std::optional<Error>)>;

    static std::shared_ptr<PTChannel> channelWithDelegate(PTChannelDelegate delegate);

    void connectToPort(std::uint32_t port, const std::shared_ptr<PTUSBHub>& hub, long long deviceID, Callback callback);
    // Takes a connected stream and reads frames from it.
    std::optional<Error> startReadingFromConnectedChannel(std::shared_ptr<UsbmuxStream> channel);
    // What a stream made for this channel must run when it is released.
    UsbmuxStream::EndHandler endHandler();

    void sendFrameOfType(std::uint32_t type, std::uint32_t tag, std::vector<std::uint8_t> payload, Callback callback);
    // No frame is read after the one being read until reading resumes: a receiver that hands
    // frames to another thread holds the device back while it is behind, rather than queue
    // without bound.
    void pauseReading();
    void resumeReading();
    void close();
    void cancel();
    void setDelegate(PTChannelDelegate delegate);
    void setUserInfo(std::any userInfo) { userInfo_ = std::move(userInfo); }
    const std::any& userInfo() const { return userInfo_; }
    bool isConnected() const { return connState_ == Connecting || connState_ == Connected; }
    bool isListening() const { return connState_ == Listening; }
    std::uint8_t state() const { return connState_; }
    std::optional<Error> endError() const { return endError_; }
    std::string description() const;

private:
    explicit PTChannel(PTChannelDelegate delegate);
    void readFrames(std::shared_ptr<UsbmuxStream> channel);
    // True when the loop must stop.
    bool endReadingIfNeeded(const std::optional<Error>& error, bool endOfStream);
    void closeStream(bool immediately);

    std::shared_ptr<UsbmuxStream> channel_;
    bool readingPaused_ = false;
    // The stream whose next frame waits for reading to resume.
    std::shared_ptr<UsbmuxStream> pausedStream_;
    std::optional<Error> endError_;
    PTChannelDelegate delegate_;
    std::uint8_t delegateFlags_ = 0;
    std::uint8_t connState_ = None;
    std::shared_ptr<PTProtocol> protocol_;
    std::any userInfo_;
};

} // namespace vd
