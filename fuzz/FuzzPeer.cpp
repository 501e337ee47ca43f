#include "FuzzPeer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vd::fuzz {

FuzzPeer::~FuzzPeer()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int FuzzPeer::socketPair(int& peerFd)
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        throw std::runtime_error("socketpair failed");
    peerFd = fds[1];
    return fds[0];
}

bool FuzzPeer::send(std::span<const std::uint8_t> bytes, std::size_t chunk, const std::function<void()>& pump)
{
    // A reader that stopped reading (a refused handshake, a link it ended) never makes room.
    constexpr auto kGiveUpAfter = std::chrono::milliseconds(50);
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    std::size_t sent = 0;
    auto lastProgress = std::chrono::steady_clock::now();
    while (sent < bytes.size()) {
        const std::size_t piece = std::min(chunk, bytes.size() - sent);
        const ssize_t n = ::send(fd_, bytes.data() + sent, piece, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            lastProgress = std::chrono::steady_clock::now();
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;
        }
        discardIncoming();
        if (pump)
            pump();
        if (n <= 0) {
            if (std::chrono::steady_clock::now() - lastProgress > kGiveUpAfter)
                return false;
            pollfd waiting{fd_, POLLOUT, 0};
            ::poll(&waiting, 1, 1);
        }
    }
    return true;
}

void FuzzPeer::shutdownWrite()
{
    ::shutdown(fd_, SHUT_WR);
}

void FuzzPeer::discardIncoming()
{
    std::uint8_t sink[4096];
    while (::recv(fd_, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
}

FuzzListener::FuzzListener()
{
    std::string folder = (std::filesystem::temp_directory_path() / "vd-fuzz-XXXXXX").string();
    if (!::mkdtemp(folder.data()))
        throw std::runtime_error("mkdtemp failed");
    folder_ = folder;
    path_ = folder_ / "peer.sock";
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, 8) != 0)
        throw std::runtime_error("cannot listen on " + path_.string());
}

FuzzListener::~FuzzListener()
{
    ::close(fd_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

int FuzzListener::accept(std::chrono::milliseconds timeout)
{
    pollfd waiting{fd_, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(timeout.count())) != 1)
        return -1;
    return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
}

} // namespace vd::fuzz
