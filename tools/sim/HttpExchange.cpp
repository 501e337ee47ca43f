#include "HttpExchange.h"

#include <array>
#include <cstdio>
#include <ctime>

namespace vd::sim {
namespace {

constexpr std::uint64_t kBodyVariants = 32;

std::uint64_t requestVariant(std::uint64_t seed) { return seed % kBodyVariants; }
std::uint64_t responseVariant(std::uint64_t seed) { return (seed >> 8) % kBodyVariants + kBodyVariants; }

std::string dateHeader(std::int64_t ms)
{
    // A fixed calendar origin keeps the texts of a seed the same from run to run.
    const std::time_t seconds = 1714039200 + ms / 1000;
    std::tm calendar{};
    gmtime_r(&seconds, &calendar);
    // HTTP dates name days and months in English; strftime would follow the locale's names.
    static constexpr std::array<const char*, 7> kDays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[48];
    std::snprintf(text, sizeof text, "%s, %02d %s %d %02d:%02d:%02d GMT", kDays[static_cast<std::size_t>(calendar.tm_wday)],
                  calendar.tm_mday, kMonths[static_cast<std::size_t>(calendar.tm_mon)], calendar.tm_year + 1900,
                  calendar.tm_hour, calendar.tm_min, calendar.tm_sec);
    return text;
}

std::string statusFor(BodyKind kind, const std::string& method, std::uint64_t roll)
{
    if (kind == BodyKind::None)
        return method == "GET" ? "304 Not Modified" : "204 No Content";
    if (kind == BodyKind::Html && roll % 4 == 0)
        return "404 Not Found";
    if (method == "POST" && roll % 2 == 0)
        return "201 Created";
    return "200 OK";
}

} // namespace

const std::string& BodyStore::body(BodyKind kind, std::uint64_t variant) const
{
    auto& slot = bodies_[{kind, variant}];
    if (!slot)
        slot = makeBody(kind, seed_ * 131 + variant);
    return *slot;
}

const std::string& BodyStore::requestBodyOf(const Exchange& exchange) const
{
    return body(exchange.requestBody, requestVariant(exchange.seed));
}

const std::string& BodyStore::responseBodyOf(const Exchange& exchange) const
{
    return body(exchange.responseBody, responseVariant(exchange.seed));
}

std::string HttpExchangeMaker::fill(Exchange& exchange, const Site& site, const Client& client, const std::string& method,
                                    std::int64_t at)
{
    exchange.requestBody = method == "GET" ? BodyKind::None : (random_.chance(75) ? BodyKind::Json : BodyKind::Form);
    exchange.responseBody = responseKindFor(site.style, method);
    const std::size_t requestLength = bodies_.requestBodyOf(exchange).size();
    const std::size_t responseLength = bodies_.responseBodyOf(exchange).size();
    std::string status = statusFor(exchange.responseBody, method, random_.next());
    const std::string path = pathFor(site.style);
    const std::string target = site.type == kHttp ? "http://" + hostHeader(site) + path : path;
    exchange.requestHead = requestHead(site, client, method, target, exchange.requestBody, requestLength, exchange.responseBody,
                                       site.type == kHttp);
    exchange.responseHead = responseHead(site, exchange.responseBody, responseLength, status, at);
    return status;
}

BodyKind HttpExchangeMaker::responseKindFor(Style style, const std::string& method)
{
    const auto roll = random_.between(0, 99);
    switch (style) {
    case Style::Api:
        if (method != "GET" && roll < 25)
            return BodyKind::None;
        return roll < 45 ? BodyKind::Json : roll < 75 ? BodyKind::Gzip : roll < 85 ? BodyKind::Chunked : roll < 92 ? BodyKind::Html : BodyKind::None;
    case Style::Page:
        return roll < 45 ? BodyKind::Html : roll < 65 ? BodyKind::Gzip : roll < 80 ? BodyKind::Chunked : roll < 88 ? BodyKind::Json : BodyKind::None;
    case Style::Image: return roll < 85 ? BodyKind::Png : BodyKind::None;
    case Style::Stream: return BodyKind::Chunked;
    default: return BodyKind::None;
    }
}

std::string HttpExchangeMaker::pathFor(Style style)
{
    static constexpr std::array<const char*, 6> kResources{"repos", "users", "events", "items", "sessions", "forecasts"};
    static constexpr std::array<const char*, 5> kSections{"news", "articles", "topics", "guides", "search"};
    switch (style) {
    case Style::Api:
        return std::string("/v2/") + kResources[random_.next() % kResources.size()] + "/" +
               std::to_string(random_.between(1, 9999999)) + "?page=" + std::to_string(random_.between(1, 40));
    case Style::Page:
        return random_.chance(15) ? std::string("/")
                                 : std::string("/") + kSections[random_.next() % kSections.size()] + "/" +
                                       std::to_string(random_.between(100, 99999)) + "-" + random_.token(8);
    case Style::Image: return "/img/" + random_.hex(16) + ".png";
    case Style::Stream: return "/v1/stream?channel=" + random_.token(6) + "&since=" + std::to_string(random_.between(1, 900000));
    default: return "/";
    }
}

std::string HttpExchangeMaker::requestHead(const Site& site, const Client& client, const std::string& method,
                                           const std::string& target, BodyKind body, std::size_t bodyLength, BodyKind expected,
                                           bool proxyForm)
{
    std::string h = method + " " + target + " HTTP/1.1\r\nHost: " + hostHeader(site) + "\r\nUser-Agent: " + client.profile.agent + "\r\n";
    h += site.style == Style::Image ? "Accept: image/avif,image/webp,image/png,*/*;q=0.8\r\n"
         : site.style == Style::Page ? "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
                                     : "Accept: application/json, */*;q=0.5\r\n";
    h += "Accept-Language: en-GB,en;q=0.9\r\nAccept-Encoding: gzip, deflate, br\r\n";
    if (expected == BodyKind::None && method == "GET")
        h += "If-None-Match: W/\"" + random_.hex(24) + "\"\r\n";
    if (random_.chance(50))
        h += "Cookie: session=" + random_.token(32) + "; theme=dark\r\n";
    if (site.style == Style::Api && random_.chance(50))
        h += "Authorization: Bearer " + random_.token(48) + "\r\n";
    h += bodyHeaderLines(body, bodyLength);
    if (proxyForm && client.profile.browser)
        h += "Proxy-Connection: keep-alive\r\n";
    h += "Connection: keep-alive\r\n\r\n";
    return h;
}

std::string HttpExchangeMaker::responseHead(const Site& site, BodyKind body, std::size_t bodyLength, const std::string& status,
                                            std::int64_t at)
{
    static constexpr std::array<const char*, 4> kServers{"edge-cache/3.2", "api-gateway/1.8", "httpd", "static-origin"};
    std::string h = "HTTP/1.1 " + status + "\r\nDate: " + dateHeader(at) + "\r\nServer: " + kServers[random_.next() % kServers.size()] + "\r\n";
    if (status.starts_with("204") || status.starts_with("304"))
        h += "ETag: W/\"" + random_.hex(24) + "\"\r\n";
    else
        h += bodyHeaderLines(body, bodyLength);
    h += body == BodyKind::Png ? "Cache-Control: public, max-age=31536000, immutable\r\n" : "Cache-Control: private, max-age=0, must-revalidate\r\n";
    h += "Vary: Accept-Encoding\r\n";
    if (random_.chance(20))
        h += "Set-Cookie: __edge=" + random_.token(24) + "; Path=/; HttpOnly; Secure; SameSite=Lax\r\n";
    if (site.type == kHttps && random_.chance(50))
        h += "Strict-Transport-Security: max-age=31536000; includeSubDomains\r\n";
    h += "X-Request-Id: " + random_.hex(8) + "-" + random_.hex(4) + "-" + random_.hex(12) + "\r\n\r\n";
    return h;
}

} // namespace vd::sim
