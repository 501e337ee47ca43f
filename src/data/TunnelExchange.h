#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vd {

class VDTunnelInfo;

struct RequestLine {
    std::string_view method;
    std::string_view target;
    std::string_view version;
};
// "METHOD target HTTP/x.y" at the start of a request head; none when it is not one.
std::optional<RequestLine> requestLineOf(std::string_view head);

// The HTTP request and response a tunnel carried, as the service received them: the ones inside
// TLS for decrypted traffic, else the plain ones. A tunnel is set up with CONNECT, and one that
// only tunnelled TLS it could not read carries no exchange of its own.
struct TunnelExchange {
    std::string requestHead;
    std::string responseHead;
    bool secure = false;

    static std::optional<TunnelExchange> of(const VDTunnelInfo& tunnel);

    // The absolute URL: a proxy request names it whole; else it is put together from the
    // scheme, the Host field (or the tunnel's own host and port) and the request target.
    std::string url(const VDTunnelInfo& tunnel) const;
    // The request target alone, for a URL/Path column: the path and query.
    std::string_view path() const;
};

} // namespace vd
