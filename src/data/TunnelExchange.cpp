#include "TunnelExchange.h"

#include <algorithm>

#include "VDTunnelInfo.h"

namespace vd {
namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool sameLetters(std::string_view a, std::string_view b)
{
    return std::ranges::equal(a, b, [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// The line starting at `at`, without its CR LF (or bare LF), and where the next one starts.
std::string_view lineAt(std::string_view head, std::size_t at, std::size_t& next)
{
    const auto end = head.find('\n', at);
    next = end == std::string_view::npos ? head.size() : end + 1;
    std::string_view line = head.substr(at, (end == std::string_view::npos ? head.size() : end) - at);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

bool isAbsolute(std::string_view target)
{
    return target.starts_with("http://") || target.starts_with("https://");
}

} // namespace

std::vector<HeaderField> headerFields(std::string_view head)
{
    std::vector<HeaderField> fields;
    std::size_t next = 0;
    lineAt(head, 0, next); // the start line
    while (next < head.size()) {
        const std::string_view line = lineAt(head, next, next);
        if (line.empty())
            break;
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            continue;
        fields.push_back({line.substr(0, colon), trimmed(line.substr(colon + 1))});
    }
    return fields;
}

std::optional<std::string_view> headerField(std::string_view head, std::string_view name)
{
    for (const auto& field : headerFields(head)) {
        if (sameLetters(field.name, name))
            return field.value;
    }
    return std::nullopt;
}

std::optional<RequestLine> requestLineOf(std::string_view head)
{
    std::size_t next = 0;
    const std::string_view line = lineAt(head, 0, next);
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
    if (const auto host = headerField(requestHead, "Host"); host && !host->empty()) {
        url += *host;
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
