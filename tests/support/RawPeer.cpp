#include "RawPeer.h"

#include <algorithm>
#include <stdexcept>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "support/Listening.h"

namespace vd::test {

RawPeer::RawPeer(std::filesystem::path socketPath) : path_(std::move(socketPath))
{
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = unixAddress(path_);
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) ||
        ::listen(listener_, 4) != 0)
        throw std::runtime_error("RawPeer cannot listen on " + path_.string());
}

RawPeer::~RawPeer()
{
    closeConnection();
    if (listener_ >= 0)
        ::close(listener_);
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

bool RawPeer::accept(std::chrono::milliseconds timeout)
{
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(timeout.count())) != 1)
        return false;
    connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    return connection_ >= 0;
}

bool RawPeer::send(const Bytes& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(connection_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool RawPeer::send(const std::string& bytes)
{
    return send(Bytes(bytes.begin(), bytes.end()));
}

bool RawPeer::readMore(std::chrono::milliseconds timeout)
{
    pollfd waiting{connection_, POLLIN, 0};
    if (connection_ < 0 || ::poll(&waiting, 1, static_cast<int>(timeout.count())) != 1)
        return false;
    std::uint8_t chunk[65536];
    const ssize_t n = ::recv(connection_, chunk, sizeof chunk, 0);
    if (n <= 0) {
        peerClosed_ = true;
        return false;
    }
    pending_.insert(pending_.end(), chunk, chunk + n);
    return true;
}

std::optional<RawPeer::Bytes> RawPeer::readPacket(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const std::uint8_t terminator[2] = {0xDB, 0xBC};
        const auto end = std::search(pending_.begin(), pending_.end(), terminator, terminator + 2);
        if (end != pending_.end()) {
            Bytes packet(pending_.begin(), end + 2);
            pending_.erase(pending_.begin(), end + 2);
            return packet;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readMore(left))
            return std::nullopt;
    }
}

bool RawPeer::waitForClose(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!peerClosed_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        readMore(left);
    }
    return true;
}

void RawPeer::closeConnection()
{
    if (connection_ >= 0)
        ::close(connection_);
    connection_ = -1;
}

} // namespace vd::test
