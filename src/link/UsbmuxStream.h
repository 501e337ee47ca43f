#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <asio/generic/stream_protocol.hpp>

#include "platform/DispatchQueue.h"
#include "platform/Error.h"

namespace vd {

inline constexpr const char* kPOSIXErrorDomain = "POSIX";
Error posixError(int code);
Error posixError(const std::error_code& ec);

// One byte stream to the USB daemon (or, after a successful Connect, to a device port). The socket
// lives on a private strand so Asio never sees two threads at once; every result is posted to the
// report queue, which in this program is the main queue.
class UsbmuxStream : public std::enable_shared_from_this<UsbmuxStream> {
public:
    using EndHandler = std::function<void(std::optional<Error>)>;
    // `ended`: the peer closed before `bytes` reached the size asked for.
    using ReadCallback = std::function<void(std::optional<Error> error, std::vector<std::uint8_t> bytes, bool ended)>;
    using WriteCallback = std::function<void(std::optional<Error>)>;

    // "/var/run/usbmuxd" unless USBMUXD_SOCKET_ADDRESS names a unix path or host:port.
    static std::string daemonAddress();
    static std::shared_ptr<UsbmuxStream> open(std::shared_ptr<DispatchQueue> reportQueue, EndHandler onEnd,
                                              std::optional<Error>& error);
    // Takes ownership of an already connected stream socket.
    static std::shared_ptr<UsbmuxStream> adopt(int fd, std::shared_ptr<DispatchQueue> reportQueue, EndHandler onEnd);

    ~UsbmuxStream();
    UsbmuxStream(const UsbmuxStream&) = delete;
    UsbmuxStream& operator=(const UsbmuxStream&) = delete;

    const std::shared_ptr<DispatchQueue>& queue() const { return queue_; }
    void read(std::size_t size, ReadCallback callback);
    // Writes go out whole and in the order they were handed in.
    void write(std::vector<std::uint8_t> bytes, WriteCallback callback);
    // Closes at once; reads in flight are dropped, queued writes fail with ECANCELED.
    void close();
    // Closes once the queued writes have gone out.
    void cancel();

    struct Private;

private:
    UsbmuxStream(std::shared_ptr<DispatchQueue> reportQueue, EndHandler onEnd);
    // Reads on the strand until `buffer` holds `size` bytes or the stream fails.
    void readInto(std::shared_ptr<std::vector<std::uint8_t>> buffer, std::size_t size, ReadCallback callback);
    void startNextWrite();
    void closeOnStrand();
    void report(Task task);

    std::shared_ptr<SerialQueue> strandQueue_;
    std::shared_ptr<DispatchQueue> queue_;
    asio::generic::stream_protocol::socket socket_;
    EndHandler onEnd_;
    std::atomic<bool> endReported_{false};
    // Touched on the strand only.
    bool closed_ = false;
    bool cancelRequested_ = false;
    bool writing_ = false;
    std::error_code writeError_;
    std::deque<std::pair<std::vector<std::uint8_t>, WriteCallback>> writes_;
};

} // namespace vd
