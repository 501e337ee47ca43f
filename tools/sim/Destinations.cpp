#include "Destinations.h"

#include <array>
#include <cstdio>

namespace vd::sim {
namespace {

// clang-format off
constexpr std::array<Site, 18> kSites{{
    {"www.example.com", 443, kHttps, Style::Page, "FINAL", "Proxy", true, false},                                  // 0
    {"news.example.org", 80, kHttp, Style::Page, "DOMAIN-SUFFIX,example.org", "DIRECT", true, false},              // 1
    {"api.example.com", 443, kHttps, Style::Api, "DOMAIN,api.example.com", "Proxy", true, false},                   // 2
    {"api.weather.example.net", 443, kHttps, Style::Api, "GEOIP,US", "Auto-Select", true, false},                   // 3
    {"static.cdn.example.net", 443, kHttps, Style::Image, "DOMAIN-KEYWORD,cdn", "DIRECT", true, false},             // 4
    {"img.example.org", 80, kHttp, Style::Image, "DOMAIN-SUFFIX,example.org", "DIRECT", true, false},               // 5
    {"events.example.com", 443, kHttps, Style::Stream, "FINAL", "Proxy", true, false},                              // 6
    {"chat.example.com", 443, kHttps, Style::Stream, "DOMAIN,chat.example.com", "Proxy", true, false},              // 7
    {"music.example.net", 443, kHttps, Style::Stream, "DOMAIN-SUFFIX,example.net", "Auto-Select", true, false},     // 8
    {"updates.example.org", 443, kHttps, Style::Download, "DOMAIN-KEYWORD,updates", "DIRECT", false, false},        // 9
    {"imap.mail.example.com", 993, kTcp, Style::Mail, "DOMAIN-SUFFIX,mail.example.com", "Proxy", false, false},     // 10
    {"smtp.mail.example.com", 587, kTcp, Style::Mail, "DOMAIN-SUFFIX,mail.example.com", "Proxy", false, false},     // 11
    {"push.example.net", 5223, kTcp, Style::Push, "DOMAIN,push.example.net", "DIRECT", false, false},               // 12
    {"git.example.com", 443, kHttps, Style::Api, "DOMAIN,git.example.com", "Proxy", true, false},                   // 13
    {"telemetry.example.org", 443, kHttps, Style::Api, "DOMAIN-SUFFIX,telemetry.example.org", "REJECT", true, false}, // 14
    {"ssh.example.net", 22, kSock, Style::Socks, "FINAL", "Proxy", false, false},                                   // 15
    {"2001:db8::20", 443, kHttps, Style::Api, "IP-CIDR6,2001:db8::/32", "DIRECT", true, true},                      // 16
    {"203.0.113.80", 80, kHttp, Style::Page, "IP-CIDR,203.0.113.0/24", "DIRECT", true, true},                       // 17
}};
// clang-format on

} // namespace

const Site& siteAt(int index)
{
    return kSites[static_cast<std::size_t>(index)];
}

bool isFinite(Style style)
{
    return style == Style::Api || style == Style::Page || style == Style::Image;
}

std::string hostHeader(const Site& site)
{
    const std::string host = std::string_view(site.host).find(':') != std::string_view::npos ? "[" + std::string(site.host) + "]"
                                                                                             : std::string(site.host);
    const bool defaultPort = (site.type == kHttp && site.port == 80) || (site.type == kHttps && site.port == 443);
    return defaultPort ? host : host + ":" + std::to_string(site.port);
}

std::uint64_t fnv1a(std::string_view text)
{
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (const unsigned char c : text)
        hash = (hash ^ c) * 0x100000001B3ull;
    return hash;
}

std::vector<std::string> addressesOf(std::string_view host)
{
    const auto hash = fnv1a(host);
    std::vector<std::string> ips;
    const char* prefix = (hash & 1) ? "203.0.113." : "198.51.100.";
    ips.push_back(prefix + std::to_string(1 + (hash >> 8) % 254));
    if (hash & 2)
        ips.push_back(prefix + std::to_string(1 + (hash >> 16) % 254));
    if (hash & 4) {
        char v6[32];
        std::snprintf(v6, sizeof v6, "2001:db8::%x", static_cast<unsigned>((hash >> 24) & 0xFFFF));
        ips.emplace_back(v6);
    }
    return ips;
}

} // namespace vd::sim
