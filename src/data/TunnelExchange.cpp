#include "TunnelExchange.h"

#include "HttpHead.h"
#include "VDTunnelInfo.h"

namespace vd {
namespace {

bool isAbsolute(std::string_view target)
{
    return target.starts_with("http://") || target.starts_with("https://");
}

} // namespace

std::optional<RequestLine> requestLineOf(std::string_view head)
{
    std::string_view line = head.substr(0, head.find('\n'));
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    const auto firstSpace = line.find(' ');
    const auto lastSpace = line.rfind(' ');
    if (firstSpace == std::string_view::npos || lastSpace == firstSpace || firstSpace == 0)
        return std::nullopt;
    RequestLine request{line.substr(0, firstSpace), line.substr(firstSpace + 1, lastSpace - firstSpace - 1),
                        line.substr(lastSpace + 1)};
    if (request.target.empty() || !request.version.starts_with("HTTP/"))
        return std::nullopt;
    return request;
}

std::optional<TunnelExchange> TunnelExchange::of(const VDTunnelInfo& tunnel)
{
    if (tunnel.type() != TunnelProtocol::http && tunnel.type() != TunnelProtocol::https)
        return std::nullopt;
    TunnelExchange exchange;
    exchange.requestHead = tunnel.SSLHeaderString();
    if (!exchange.requestHead.empty()) {
        exchange.responseHead = tunnel.SSLResponseHeader();
        exchange.secure = true;
    } else {
        exchange.requestHead = tunnel.headerString();
        exchange.responseHead = tunnel.responseHeader();
        exchange.secure = tunnel.type() == TunnelProtocol::https;
    }
    const auto request = requestLineOf(exchange.requestHead);
    if (!request || request->method == "CONNECT")
        return std::nullopt;
    return exchange;
}

std::string TunnelExchange::url(const VDTunnelInfo& tunnel) const
{
    const auto request = requestLineOf(requestHead);
    const std::string_view target = request ? request->target : std::string_view("/");
    if (isAbsolute(target))
        return std::string(target);
    std::string url = secure ? "https://" : "http://";
    if (const std::string host = headerValues(requestHead, "Host"); !host.empty()) {
        url += host;
    } else {
        const std::string_view name = secure && !tunnel.SSLHost().empty() ? tunnel.SSLHost() : tunnel.host();
        url += name;
        if (tunnel.port() > 0 && tunnel.port() != (secure ? 443 : 80))
            url += ":" + std::to_string(tunnel.port());
    }
    if (!target.starts_with('/'))
        url += '/';
    return url += target;
}

std::string_view TunnelExchange::path() const
{
    const auto request = requestLineOf(requestHead);
    if (!request)
        return {};
    std::string_view target = request->target;
    if (isAbsolute(target)) {
        const auto slash = target.find('/', target.find("//") + 2);
        target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    }
    return target;
}

} // namespace vd
