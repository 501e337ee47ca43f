#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vd {

class VDTunnelInfo;

// One "Name: value" line of an HTTP header block, viewed where the block keeps it.
struct HeaderField {
    std::string_view name;
    std::string_view value;
};

// The fields of a header block after its start line, in order, up to the blank line. Lines
// without a colon are no fields and are passed over; values lose their surrounding blanks.
std::vector<HeaderField> headerFields(std::string_view head);
// The first field of that name, compared without regard to case; none when absent.
std::optional<std::string_view> headerField(std::string_view head, std::string_view name);

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
