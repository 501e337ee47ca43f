#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vd::sim {

// How a destination behaves: what is asked, what comes back, and for how long.
enum class Style : std::uint8_t { Api, Page, Image, Stream, Download, Mail, Push, Socks };

// The tunnel types as the service numbers them.
enum TunnelType : int { kHttp = 1, kHttps = 2, kSock = 3, kTcp = 4 };

// A server the simulated clients talk to, and how the proxy's rules treat it.
struct Site {
    const char* host;
    std::int64_t port;
    int type;
    Style style;
    const char* rule;
    const char* policy;
    bool interceptable; // false: excluded from MitM, its TLS stays closed
    bool literal;       // the host is an address: nothing to resolve
};

// The destinations by number; clients name the ones they visit by these numbers.
const Site& siteAt(int index);

// Api, Page and Image exchanges end once their bodies are through; the others stay open.
bool isFinite(Style style);

// The Host header of a request to the site: IPv6 in brackets, the port unless the default.
std::string hostHeader(const Site& site);

// 64-bit FNV-1a: a stable number per name, the same in every run.
std::uint64_t fnv1a(std::string_view text);

// Stable addresses for a name, from documentation ranges, the same in every run.
std::vector<std::string> addressesOf(std::string_view host);

} // namespace vd::sim
