#include "link/PTChannel.h"

#include <cerrno>
#include <map>
#include <mutex>
#include <utility>

#include "link/ServiceContract.h"
#include "platform/MainQueue.h"
#include "platform/ThreadCheck.h"

namespace vd {

namespace {

void putBE32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::uint32_t getBE32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
}

Error protocolError()
{
    return Error{kPTProtocolErrorDomain, 0, "Invalid frame"};
}

constexpr std::uint8_t kFlagAcceptFilter = 1u << 0;
constexpr std::uint8_t kFlagEndReport = 1u << 1;

} // namespace

std::shared_ptr<PTProtocol> PTProtocol::sharedProtocolForQueue(const std::shared_ptr<DispatchQueue>& queue)
{
    static std::mutex mutex;
    static std::map<const DispatchQueue*, std::pair<std::weak_ptr<DispatchQueue>, std::shared_ptr<PTProtocol>>> protocols;
    std::lock_guard lock(mutex);
    // A queue that went away releases its protocol; its address may be reused by a new queue.
    for (auto it = protocols.begin(); it != protocols.end();)
        it = it->second.first.expired() ? protocols.erase(it) : std::next(it);
    auto& slot = protocols[queue.get()];
    if (!slot.second)
        slot = {queue, std::make_shared<PTProtocol>(queue)};
    return slot.second;
}

std::vector<std::uint8_t> PTProtocol::createFrame(std::uint32_t type, std::uint32_t tag, const std::vector<std::uint8_t>& payload)
{
    std::vector<std::uint8_t> out;
    out.reserve(frame::kHeaderSize + payload.size());
    putBE32(out, frame::kVersion);
    putBE32(out, type);
    putBE32(out, tag);
    putBE32(out, static_cast<std::uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

void PTProtocol::sendFrameOfType(std::uint32_t type, std::uint32_t tag, const std::vector<std::uint8_t>& payload,
                                 const std::shared_ptr<UsbmuxStream>& channel, WriteCallback callback)
{
    if (payload.size() > 0xFFFFFFFFull) {
        if (callback)
            callback(posixError(EMSGSIZE));
        return;
    }
    channel->write(createFrame(type, tag, payload), std::move(callback));
}

void PTProtocol::readFrameOverChannel(const std::shared_ptr<UsbmuxStream>& channel, FrameCallback callback)
{
    channel->read(frame::kHeaderSize, [callback = std::move(callback)](std::optional<Error> error, std::vector<std::uint8_t> bytes, bool ended) {
        if (error) {
            callback(error, 0, 0, 0);
            return;
        }
        // The peer closing anywhere inside a header ends the stream: the last delivery brought nothing.
        if (ended) {
            callback(std::nullopt, frame::kTypeEndOfStream, 0, 0);
            return;
        }
        if (bytes.size() < frame::kHeaderSize || getBE32(bytes.data()) != frame::kVersion) {
            callback(protocolError(), 0, 0, 0);
            return;
        }
        callback(std::nullopt, getBE32(bytes.data() + 4), getBE32(bytes.data() + 8), getBE32(bytes.data() + 12));
    });
}

void PTProtocol::readPayloadOfSize(std::size_t size, const std::shared_ptr<UsbmuxStream>& channel, PayloadCallback callback)
{
    channel->read(size, [callback = std::move(callback)](std::optional<Error> error, std::vector<std::uint8_t> bytes, bool ended) {
        if (error || ended) {
            callback(error, nullptr, ended);
            return;
        }
        callback(std::nullopt, std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)), false);
    });
}

void PTProtocol::readAndDiscardDataOfSize(std::size_t size, const std::shared_ptr<UsbmuxStream>& channel, DiscardCallback callback)
{
    // Large refused frames are dropped in slices so a hostile size cannot make us allocate it whole.
    constexpr std::size_t kSlice = 64 * 1024;
    const std::size_t now = size < kSlice ? size : kSlice;
    channel->read(now, [self = shared_from_this(), channel, rest = size - now, callback = std::move(callback)](
                           std::optional<Error> error, std::vector<std::uint8_t>, bool ended) mutable {
        if (error || ended || rest == 0) {
            callback(error, ended);
            return;
        }
        self->readAndDiscardDataOfSize(rest, channel, std::move(callback));
    });
}

std::shared_ptr<PTChannel> PTChannel::channelWithDelegate(PTChannelDelegate delegate)
{
    return std::shared_ptr<PTChannel>(new PTChannel(std::move(delegate)));
}

PTChannel::PTChannel(PTChannelDelegate delegate)
    : protocol_(PTProtocol::sharedProtocolForQueue(MainQueue::shared()))
{
    setDelegate(std::move(delegate));
}

void PTChannel::setDelegate(PTChannelDelegate delegate)
{
    VD_ASSERT_ON(MainQueue::shared());
    delegate_ = std::move(delegate);
    delegateFlags_ = 0;
    if (delegate_.shouldAcceptFrame)
        delegateFlags_ |= kFlagAcceptFilter;
    if (delegate_.didEndWithError)
        delegateFlags_ |= kFlagEndReport;
}

std::string PTChannel::description() const
{
    switch (connState_) {
    case Connecting:
        return "<PTChannel connecting>";
    case Connected:
        return "<PTChannel connected>";
    case Listening:
        return "<PTChannel listening>";
    default:
        return "<PTChannel closed>";
    }
}

UsbmuxStream::EndHandler PTChannel::endHandler()
{
    return [weak = weak_from_this()](std::optional<Error> closing) {
        auto self = weak.lock();
        if (!self)
            return;
        if (self->delegateFlags_ & kFlagEndReport)
            self->delegate_.didEndWithError(*self, closing);
        self->endError_.reset();
    };
}

void PTChannel::connectToPort(std::uint32_t port, const std::shared_ptr<PTUSBHub>& hub, long long deviceID, Callback callback)
{
    VD_ASSERT_ON(MainQueue::shared());
    if (connState_ != None) {
        if (callback)
            callback(posixError(EPERM));
        return;
    }
    connState_ = Connecting;
    hub->connectToDevice(deviceID, port,
        [self = shared_from_this(), callback = std::move(callback)](std::optional<Error> error, std::shared_ptr<UsbmuxStream> stream) {
            if (error) {
                self->connState_ = None;
                if (callback)
                    callback(error);
                return;
            }
            auto started = self->startReadingFromConnectedChannel(std::move(stream));
            if (callback)
                callback(started);
        },
        endHandler());
}

std::optional<Error> PTChannel::startReadingFromConnectedChannel(std::shared_ptr<UsbmuxStream> channel)
{
    VD_ASSERT_ON(MainQueue::shared());
    if (connState_ >= Listening)
        return posixError(EPERM);
    if (channel_ != channel) {
        if (channel_)
            channel_->close();
        channel_ = std::move(channel);
    }
    connState_ = Connected;
    readFrames(channel_);
    return std::nullopt;
}

bool PTChannel::endReadingIfNeeded(const std::optional<Error>& error, bool endOfStream)
{
    if (error) {
        endError_ = error;
        closeStream(true);
        return true;
    }
    if (endOfStream) {
        closeStream(false);
        return true;
    }
    return false;
}

void PTChannel::pauseReading()
{
    VD_ASSERT_ON(MainQueue::shared());
    readingPaused_ = true;
}

void PTChannel::resumeReading()
{
    VD_ASSERT_ON(MainQueue::shared());
    readingPaused_ = false;
    if (auto stream = std::exchange(pausedStream_, nullptr))
        readFrames(std::move(stream));
}

void PTChannel::readFrames(std::shared_ptr<UsbmuxStream> channel)
{
    if (readingPaused_) {
        pausedStream_ = std::move(channel);
        return;
    }
    protocol_->readFrameOverChannel(channel,
        [self = shared_from_this(), channel](std::optional<Error> error, std::uint32_t type, std::uint32_t tag, std::uint32_t payloadSize) {
            if (!error && type != frame::kTypeEndOfStream && payloadSize > contract::kMaxPacketBytes)
                error = protocolError();
            if (self->endReadingIfNeeded(error, type == frame::kTypeEndOfStream))
                return;
            bool accepted = channel == self->channel_;
            if (accepted && (self->delegateFlags_ & kFlagAcceptFilter))
                accepted = self->delegate_.shouldAcceptFrame(*self, type, tag, payloadSize);
            if (!accepted) {
                if (payloadSize == 0) {
                    self->readFrames(channel);
                    return;
                }
                self->protocol_->readAndDiscardDataOfSize(payloadSize, channel,
                    [self, channel](std::optional<Error> error, bool ended) {
                        if (!self->endReadingIfNeeded(error, ended))
                            self->readFrames(channel);
                    });
                return;
            }
            if (payloadSize == 0) {
                if (self->delegate_.didReceiveFrame)
                    self->delegate_.didReceiveFrame(*self, type, tag, std::nullopt);
                self->readFrames(channel);
                return;
            }
            self->protocol_->readPayloadOfSize(payloadSize, channel,
                [self, channel, type, tag](std::optional<Error> error, std::shared_ptr<const std::vector<std::uint8_t>> bytes, bool ended) {
                    if (self->endReadingIfNeeded(error, ended))
                        return;
                    if (self->delegate_.didReceiveFrame)
                        self->delegate_.didReceiveFrame(*self, type, tag, PTData(std::move(bytes)));
                    self->readFrames(channel);
                });
        });
}

void PTChannel::sendFrameOfType(std::uint32_t type, std::uint32_t tag, std::vector<std::uint8_t> payload, Callback callback)
{
    VD_ASSERT_ON(MainQueue::shared());
    if (!isConnected() || !channel_) {
        if (callback)
            callback(posixError(EPERM));
        return;
    }
    protocol_->sendFrameOfType(type, tag, payload, channel_, std::move(callback));
}

void PTChannel::closeStream(bool immediately)
{
    if (!isConnected())
        return;
    // A stream tells its end when it is let go, so a paused one must not be kept.
    pausedStream_.reset();
    if (channel_) {
        if (immediately)
            channel_->close();
        else
            channel_->cancel();
        channel_.reset();
    }
    connState_ = None;
}

void PTChannel::close()
{
    VD_ASSERT_ON(MainQueue::shared());
    closeStream(true);
}

void PTChannel::cancel()
{
    VD_ASSERT_ON(MainQueue::shared());
    closeStream(false);
}

} // namespace vd
