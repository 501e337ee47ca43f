#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace vd::test {

inline sockaddr_un unixAddress(const std::filesystem::path& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    return address;
}

// A stream socket connected to the unix socket at `path`, or -1 when nobody takes it.
inline int connectUnix(const std::filesystem::path& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = unixAddress(path);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}

// Whether a service takes connections on the unix socket at `path`. A started program's socket
// file appears when it binds, a moment before it listens, so waiting for the file alone lets a
// client be refused now and then.
inline bool listening(const std::filesystem::path& path)
{
    const int fd = connectUnix(path);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

} // namespace vd::test
