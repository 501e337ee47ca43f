#include "TrafficRecorder.h"

#include <cstring>
#include <stdexcept>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vd::fuzz {
namespace {

sockaddr_un addressOf(const std::filesystem::path& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

bool sendAll(int fd, const std::uint8_t* bytes, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

TrafficRecorder::TrafficRecorder(std::filesystem::path listenPath, std::filesystem::path serverPath)
    : listenPath_(std::move(listenPath)), serverPath_(std::move(serverPath))
{
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = addressOf(listenPath_);
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 1) != 0)
        throw std::runtime_error("cannot listen on " + listenPath_.string());
    thread_ = std::thread([this] { relay(); });
}

TrafficRecorder::~TrafficRecorder()
{
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

std::vector<std::uint8_t> TrafficRecorder::serverBytes() const
{
    std::lock_guard lock(mutex_);
    return serverBytes_;
}

void TrafficRecorder::relay()
{
    pollfd waiting{listener_, POLLIN, 0};
    while (!stopping_ && ::poll(&waiting, 1, 50) != 1) {
    }
    if (stopping_)
        return;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = addressOf(serverPath_);
    if (client >= 0 && server >= 0 && ::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        pollfd ends[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        std::uint8_t chunk[65536];
        bool open = true;
        while (open && !stopping_) {
            if (::poll(ends, 2, 50) <= 0)
                continue;
            for (int i = 0; i < 2 && open; ++i) {
                if (!(ends[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const ssize_t n = ::recv(ends[i].fd, chunk, sizeof chunk, 0);
                open = n > 0 && sendAll(ends[1 - i].fd, chunk, static_cast<std::size_t>(n));
                if (open && i == 1) {
                    std::lock_guard lock(mutex_);
                    serverBytes_.insert(serverBytes_.end(), chunk, chunk + n);
                }
            }
        }
    }
    if (client >= 0)
        ::close(client);
    if (server >= 0)
        ::close(server);
}

} // namespace vd::fuzz
