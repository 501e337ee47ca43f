#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "platform/Bytes.h"
#include "platform/DispatchQueue.h"
#include "platform/Error.h"

namespace vd {

class GCDAsyncSocket;

// What a socket reports. Every call arrives on the socket's delegate queue, one at a time.
class GCDAsyncSocketDelegate {
public:
    virtual ~GCDAsyncSocketDelegate() = default;
    virtual void socketDidConnectToUrl(GCDAsyncSocket&, const std::string& /*path*/) {}
    virtual void socketDidConnectToHost(GCDAsyncSocket&, const std::string& /*host*/, std::uint16_t /*port*/) {}
    // The bytes are the socket's own, good for the length of the call.
    virtual void socketDidReadData(GCDAsyncSocket&, std::span<const std::uint8_t> /*data*/, long /*tag*/) {}
    virtual void socketDidWriteDataWithTag(GCDAsyncSocket&, long /*tag*/) {}
    // Once per socket: the connection ended, or the attempt to make it failed.
    virtual void socketDidDisconnect(GCDAsyncSocket&, const std::optional<Error>& /*error*/) {}
};

// An asynchronous stream socket to a unix-domain path or a TCP host, serving one connection
// attempt. Operations may be called from any thread and return at once; reads and writes are
// queued and completed in the order issued.
class GCDAsyncSocket : public std::enable_shared_from_this<GCDAsyncSocket> {
public:
    static constexpr const char* kErrorDomain = "VDSocketError";
    enum ErrorCode { kBadParamError = 2, kConnectTimeoutError = 3, kReadTimeoutError = 4, kWriteTimeoutError = 5,
                     kReadMaxedOutError = 6, kClosedError = 7, kInUseError = 8 };

    static std::shared_ptr<GCDAsyncSocket> initWithDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate,
                                                            std::shared_ptr<SerialQueue> delegateQueue);
    ~GCDAsyncSocket();

    // A timeout of zero or less waits forever. A refusal at the call comes back as the error;
    // otherwise the outcome is reported later.
    std::optional<Error> connectToUrl(const std::string& path, double timeout);
    std::optional<Error> connectToHost(const std::string& host, std::uint16_t port);

    // Completes once `delimiter` has arrived, with every byte up to and including it. With a
    // positive maxLength, that many bytes without the delimiter end the connection.
    void readDataToData(Bytes delimiter, double timeout, long tag, std::size_t maxLength = 0);
    // Sent whole, after every write issued before it; a write not done in time ends the connection.
    void writeData(Bytes data, double timeout, long tag);

    // After this the former delegate hears nothing more, not even reports already under way.
    void setDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate);
    // Closes at once, dropping queued reads and writes.
    void disconnect();

    struct Impl;

private:
    explicit GCDAsyncSocket(std::shared_ptr<SerialQueue> queue);
    std::shared_ptr<GCDAsyncSocketDelegate> currentDelegate();

    std::shared_ptr<SerialQueue> queue_;
    std::unique_ptr<Impl> impl_;
    std::atomic<bool> started_{false};
    std::atomic<bool> disconnectRequested_{false};
    std::mutex delegateMutex_;
    std::weak_ptr<GCDAsyncSocketDelegate> delegate_;
};

} // namespace vd
