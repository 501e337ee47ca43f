#include "TrafficModel.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
#include <tuple>

#include "BinaryFormats.h"
#include "HttpMessages.h"
#include "JsonText.h"
#include "TrafficGenerator.h"

namespace vd::sim {
namespace {

using Json = nlohmann::ordered_json;

// How a destination behaves: what is asked, what comes back, and for how long.
enum class Style : std::uint8_t { Api, Page, Image, Stream, Download, Mail, Push, Socks };

enum TunnelType : int { kHttp = 1, kHttps = 2, kSock = 3, kTcp = 4 };

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

constexpr const char* kBrowserAgent =
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/124.0.0.0 Safari/537.36";
constexpr const char* kMobileAgent =
    "Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/124.0.0.0 Mobile Safari/537.36";

struct ClientProfile {
    const char* name;
    const char* bundle;
    const char* path;
    const char* fromHost;
    const char* agent;
    unsigned weight;
    std::vector<int> sites;
    bool browser; // speaks to an HTTP proxy the way browsers do (Proxy-Connection)
};

// Local processes (some without a bundle id, one reaching us over this machine's LAN address)
// and remote devices, which have no process at all.
std::vector<ClientProfile> clientProfiles()
{
    return {
        {"Web Browser", "com.example.browser", "/Applications/Web Browser.app/Contents/MacOS/Web Browser", "127.0.0.1",
         kBrowserAgent, 24, {0, 1, 2, 4, 5, 6, 16, 17}, true},
        {"Web Browser Helper", "com.example.browser.helper",
         "/Applications/Web Browser.app/Contents/Frameworks/Web Browser Helper.app/Contents/MacOS/Web Browser Helper",
         "127.0.0.1", kBrowserAgent, 10, {3, 4, 5, 6, 14}, true},
        {"Web Browser Helper", "com.example.browser.helper",
         "/Applications/Web Browser.app/Contents/Frameworks/Web Browser Helper.app/Contents/MacOS/Web Browser Helper",
         "127.0.0.1", kBrowserAgent, 8, {0, 4, 7}, true},
        {"Mail", "com.example.mail", "/Applications/Mail.app/Contents/MacOS/Mail", "127.0.0.1", "Mail/16.0 (Macintosh)", 5,
         {10, 11, 2, 5}, false},
        {"Chat", "com.example.chat", "/Applications/Chat.app/Contents/MacOS/Chat", "127.0.0.1", "Chat/5.2.1 (desktop)", 6,
         {7, 4, 12, 14}, false},
        {"Music", "com.example.music", "/Applications/Music.app/Contents/MacOS/Music", "::1", "Music/1.4.2", 4, {8, 2, 5},
         false},
        {"Code Helper", "com.example.code.helper", "/Applications/Code.app/Contents/Frameworks/Code Helper.app/Contents/MacOS/Code Helper",
         "127.0.0.1", "Code/1.89.0", 5, {13, 14, 9, 3}, false},
        {"curl", "", "/usr/bin/curl", "127.0.0.1", "curl/8.5.0", 4, {2, 16, 0, 17}, false},
        {"python3", "", "/usr/local/bin/python3", "127.0.0.1", "python-requests/2.31.0", 3, {15, 3, 2}, false},
        {"softwareupdated", "", "/usr/libexec/softwareupdated", "127.0.0.1", "softwareupdated/2.1", 2, {9}, false},
        {"git-remote-https", "", "/usr/libexec/git-core/git-remote-https", "192.168.1.10", "git/2.44.0", 3, {13}, false},
        {"", "", "", "192.168.1.23", kMobileAgent, 5, {0, 2, 7, 12, 5, 8}, true},
        {"", "", "", "192.168.1.41", kMobileAgent, 4, {1, 4, 6, 9}, true},
        {"", "", "", "10.8.0.6", "Mozilla/5.0 (X11; Linux x86_64; rv:125.0) Gecko/20100101", 3, {13, 2, 0}, true},
        {"", "", "", "fd00::2a", "okhttp/4.12.0", 2, {2, 12}, false},
    };
}

struct Client {
    ClientProfile profile;
    std::int64_t pid = 0;
};

// Captured HTTP exchange of a tunnel: its header blocks and what its bodies are made from.
struct Exchange {
    std::string requestHead;
    std::string responseHead;
    BodyKind requestBody = BodyKind::None;
    BodyKind responseBody = BodyKind::None;
    std::uint64_t seed = 0;
    bool captured = false;
};

// Bodies come in a limited number of variants per kind, each made once: an API answers alike
// more often than not, and a proxy at ten thousand connections has no time to write them all.
constexpr std::uint64_t kBodyVariants = 32;

std::uint64_t requestSeed(std::uint64_t seed) { return seed % kBodyVariants; }
std::uint64_t responseSeed(std::uint64_t seed) { return (seed >> 8) % kBodyVariants + kBodyVariants; }

struct Tunnel {
    std::int64_t id = 0;
    Style style = Style::Api;
    // Time line, milliseconds since the service started; tProxy stays 0 for a refused tunnel.
    std::int64_t tStart = 0, tServerReady = 0, tDns = 0, tRule = 0, tProxy = 0;
    std::int64_t tFirstByte = 0, tTransferEnd = 0, tPlannedEnd = 0;
    std::uint64_t plannedReason = 0;
    std::int64_t rx = 0, tx = 0, rxSpeed = 0, txSpeed = 0, rxMax = 0, txMax = 0;
    // Finite exchanges end with these totals; downloads use rxTotal as their rate.
    std::int64_t rxTotal = 0, txTotal = 0;
    bool hasReceive = false;
    int revealed = 0;
    bool dirty = true;
    std::string staticPart; // the members that never change, already escaped
    std::string text;       // the whole text as a JSON string literal, while not dirty
    std::shared_ptr<const Exchange> exchange;
};

struct Record {
    std::int64_t id = 0;
    std::int64_t place = 0;
    std::string text;
    std::shared_ptr<const Exchange> exchange;
    bool hasReceive = false;
};

struct DnsEntry {
    std::vector<std::string> ips;
    std::string server; // an address, or a DoH URL when `doh`
    bool doh = false;
    std::string comment;
    std::int64_t expiresMs = 0;
};

struct Udp {
    std::int64_t id = 0;
    std::string fromHost;
    std::int64_t fromPort = 0;
    std::string host;
    std::int64_t port = 0;
    std::string rule;
    std::string policy;
    std::int64_t tTime = 0, tRule = 0, tEnd = 0;
    std::uint64_t status = 0;
    std::int64_t direction = 0;
    int stage = 0;
};

std::uint64_t fnv1a(std::string_view text)
{
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (const unsigned char c : text)
        hash = (hash ^ c) * 0x100000001B3ull;
    return hash;
}

// Stable addresses for a name, from documentation ranges, the same in every run.
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

std::string hostHeader(const Site& site)
{
    const std::string host = std::string_view(site.host).find(':') != std::string_view::npos ? "[" + std::string(site.host) + "]"
                                                                                             : std::string(site.host);
    const bool defaultPort = (site.type == kHttp && site.port == 80) || (site.type == kHttps && site.port == 443);
    return defaultPort ? host : host + ":" + std::to_string(site.port);
}

} // namespace

struct TrafficModel::State {
    explicit State(ModelOptions options) : options(options), random(options.seed)
    {
        for (auto& profile : clientProfiles()) {
            Client client{std::move(profile)};
            client.pid = client.profile.name[0] ? random.between(300, 60000) : 0;
            totalWeight += client.profile.weight;
            clients.push_back(std::move(client));
        }
        target = options.scale ? static_cast<std::int64_t>(options.scale) : 35;
        hostsFile = {{"localhost", {"127.0.0.1", "::1"}, "/etc/hosts"},
                     {"broadcasthost", {"255.255.255.255"}, "/etc/hosts"},
                     {"printer.local", {"192.168.1.30"}, "/etc/hosts"}};
        configured = {{"router.lan", {"192.168.1.1"}, "Home router"},
                      {"nas.lan", {"192.168.1.5", "fd00::5"}, "Storage"},
                      {"api.staging.example.com", {"198.51.100.77"}, "Staging API, pinned"}};
    }

    // A name the service resolves from a file or from its configuration, never expiring.
    struct Named {
        std::string domain;
        std::vector<std::string> ips;
        std::string comment;
    };

    // --- opening -----------------------------------------------------------------------------

    const std::string& body(BodyKind kind, std::uint64_t variant) const
    {
        auto& slot = bodies[{kind, variant}];
        if (!slot)
            slot = makeBody(kind, options.seed * 131 + variant);
        return *slot;
    }

    const Client& pickClient()
    {
        auto roll = random.next() % totalWeight;
        for (const auto& client : clients) {
            if (roll < client.profile.weight)
                return client;
            roll -= client.profile.weight;
        }
        return clients.front();
    }

    std::string dateHeader(std::int64_t ms) const
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

    std::string pathFor(Style style)
    {
        static constexpr std::array<const char*, 6> kResources{"repos", "users", "events", "items", "sessions", "forecasts"};
        static constexpr std::array<const char*, 5> kSections{"news", "articles", "topics", "guides", "search"};
        switch (style) {
        case Style::Api:
            return std::string("/v2/") + kResources[random.next() % kResources.size()] + "/" +
                   std::to_string(random.between(1, 9999999)) + "?page=" + std::to_string(random.between(1, 40));
        case Style::Page:
            return random.chance(15) ? std::string("/")
                                     : std::string("/") + kSections[random.next() % kSections.size()] + "/" +
                                           std::to_string(random.between(100, 99999)) + "-" + random.token(8);
        case Style::Image: return "/img/" + random.hex(16) + ".png";
        case Style::Stream: return "/v1/stream?channel=" + random.token(6) + "&since=" + std::to_string(random.between(1, 900000));
        default: return "/";
        }
    }

    BodyKind responseKindFor(Style style, const std::string& method)
    {
        const auto roll = random.between(0, 99);
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

    static std::string statusFor(BodyKind kind, const std::string& method, std::uint64_t roll)
    {
        if (kind == BodyKind::None)
            return method == "GET" ? "304 Not Modified" : "204 No Content";
        if (kind == BodyKind::Html && roll % 4 == 0)
            return "404 Not Found";
        if (method == "POST" && roll % 2 == 0)
            return "201 Created";
        return "200 OK";
    }

    std::string requestHead(const Site& site, const Client& client, const std::string& method, const std::string& target,
                            BodyKind body, std::size_t bodyLength, BodyKind expected, bool proxyForm)
    {
        std::string h = method + " " + target + " HTTP/1.1\r\nHost: " + hostHeader(site) + "\r\nUser-Agent: " + client.profile.agent + "\r\n";
        h += site.style == Style::Image ? "Accept: image/avif,image/webp,image/png,*/*;q=0.8\r\n"
             : site.style == Style::Page ? "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
                                         : "Accept: application/json, */*;q=0.5\r\n";
        h += "Accept-Language: en-GB,en;q=0.9\r\nAccept-Encoding: gzip, deflate, br\r\n";
        if (expected == BodyKind::None && method == "GET")
            h += "If-None-Match: W/\"" + random.hex(24) + "\"\r\n";
        if (random.chance(50))
            h += "Cookie: session=" + random.token(32) + "; theme=dark\r\n";
        if (site.style == Style::Api && random.chance(50))
            h += "Authorization: Bearer " + random.token(48) + "\r\n";
        h += bodyHeaderLines(body, bodyLength);
        if (proxyForm && client.profile.browser)
            h += "Proxy-Connection: keep-alive\r\n";
        h += "Connection: keep-alive\r\n\r\n";
        return h;
    }

    std::string responseHead(const Site& site, BodyKind body, std::size_t bodyLength, const std::string& status, std::int64_t at)
    {
        static constexpr std::array<const char*, 4> kServers{"edge-cache/3.2", "api-gateway/1.8", "httpd", "static-origin"};
        std::string h = "HTTP/1.1 " + status + "\r\nDate: " + dateHeader(at) + "\r\nServer: " + kServers[random.next() % kServers.size()] + "\r\n";
        if (status.starts_with("204") || status.starts_with("304"))
            h += "ETag: W/\"" + random.hex(24) + "\"\r\n";
        else
            h += bodyHeaderLines(body, bodyLength);
        h += body == BodyKind::Png ? "Cache-Control: public, max-age=31536000, immutable\r\n" : "Cache-Control: private, max-age=0, must-revalidate\r\n";
        h += "Vary: Accept-Encoding\r\n";
        if (random.chance(20))
            h += "Set-Cookie: __edge=" + random.token(24) + "; Path=/; HttpOnly; Secure; SameSite=Lax\r\n";
        if (site.type == kHttps && random.chance(50))
            h += "Strict-Transport-Security: max-age=31536000; includeSubDomains\r\n";
        h += "X-Request-Id: " + random.hex(8) + "-" + random.hex(4) + "-" + random.hex(12) + "\r\n\r\n";
        return h;
    }

    // How long resolving takes, and the DNS cache entry it leaves behind.
    std::int64_t resolve(const Site& site, std::int64_t at)
    {
        if (site.literal)
            return 0;
        if (const auto it = dynamicDns.find(site.host); it != dynamicDns.end())
            return random.between(0, 1);
        DnsEntry entry;
        entry.ips = addressesOf(site.host);
        entry.doh = random.chance(30);
        entry.server = entry.doh ? "https://dns.example.net/dns-query" : "192.168.1.1";
        entry.comment = random.chance(20) ? std::string("CNAME edge.") + (fnv1a(site.host) & 8 ? "example.net" : "example.com") : "";
        entry.expiresMs = at + random.between(30, 600) * 1000;
        dynamicDns.emplace(site.host, std::move(entry));
        dnsChanged = true;
        return random.between(5, 120);
    }

    Tunnel open()
    {
        const Client& client = pickClient();
        const Site& site = kSites[static_cast<std::size_t>(client.profile.sites[random.next() % client.profile.sites.size()])];
        Tunnel t;
        t.id = nextNumber++;
        t.style = site.style;
        t.tStart = std::max<std::int64_t>(1, now - random.between(0, kStepMs - 1));
        t.tServerReady = t.tStart + random.between(1, 20);
        t.tDns = t.tServerReady + resolve(site, t.tStart);
        t.tRule = t.tDns + random.between(0, 3);
        const bool refused = std::string_view(site.policy) == "REJECT";
        const bool direct = std::string_view(site.policy) == "DIRECT";
        t.tProxy = refused ? 0 : t.tRule + (direct ? random.between(5, 80) : random.between(40, 300));

        const std::string method = site.style == Style::Api ? (random.chance(70) ? "GET" : random.chance(80) ? "POST" : "PUT") : "GET";
        const bool http = site.type == kHttp || site.type == kHttps;
        const bool opened = site.type == kHttps && mitmOn && site.interceptable && !refused;
        auto exchange = std::make_shared<Exchange>();
        exchange->seed = random.next();
        std::string status;
        std::size_t requestLength = 0;
        std::size_t responseLength = 0;
        if (http) {
            exchange->requestBody = method == "GET" ? BodyKind::None : (random.chance(75) ? BodyKind::Json : BodyKind::Form);
            exchange->responseBody = responseKindFor(site.style, method);
            requestLength = body(exchange->requestBody, requestSeed(exchange->seed)).size();
            responseLength = body(exchange->responseBody, responseSeed(exchange->seed)).size();
            status = statusFor(exchange->responseBody, method, random.next());
            const std::string path = pathFor(site.style);
            const std::string target = site.type == kHttp ? "http://" + hostHeader(site) + path : path;
            exchange->requestHead = requestHead(site, client, method, target, exchange->requestBody, requestLength,
                                                exchange->responseBody, site.type == kHttp);
            exchange->responseHead = responseHead(site, exchange->responseBody, responseLength, status, t.tStart);
            exchange->captured = recordingOn && !refused && (site.type == kHttp || opened);
        }

        // Transfer plan: finite exchanges end with their totals, long-lived ones trickle.
        const std::int64_t tls = site.type == kHttps ? random.between(3000, 7000) : 0;
        const std::int64_t from = refused ? t.tRule : t.tProxy;
        switch (site.style) {
        case Style::Api: t.tFirstByte = from + random.between(20, 400); t.tPlannedEnd = t.tFirstByte + random.between(10, 1500); break;
        case Style::Page: t.tFirstByte = from + random.between(30, 600); t.tPlannedEnd = t.tFirstByte + random.between(50, 4000); break;
        case Style::Image: t.tFirstByte = from + random.between(10, 200); t.tPlannedEnd = t.tFirstByte + random.between(10, 800); break;
        case Style::Stream: t.tFirstByte = from + random.between(50, 300); t.tPlannedEnd = t.tFirstByte + random.between(20000, 600000); break;
        case Style::Download:
            t.tFirstByte = from + random.between(50, 500);
            t.tPlannedEnd = t.tFirstByte + random.between(5000, 120000);
            t.rxTotal = random.between(2, 40) << 20; // bytes per second at full speed
            break;
        case Style::Mail: t.tFirstByte = from + random.between(100, 500); t.tPlannedEnd = t.tFirstByte + random.between(30000, 900000); break;
        case Style::Push: t.tFirstByte = from + random.between(50, 200); t.tPlannedEnd = t.tFirstByte + random.between(60000, 1800000); break;
        case Style::Socks: t.tFirstByte = from + random.between(50, 300); t.tPlannedEnd = t.tFirstByte + random.between(5000, 300000); break;
        }
        const bool finite = site.style == Style::Api || site.style == Style::Page || site.style == Style::Image;
        t.tTransferEnd = t.tPlannedEnd;
        if (finite) {
            t.rxTotal = static_cast<std::int64_t>(exchange->responseHead.size() + responseLength) + tls;
            t.txTotal = static_cast<std::int64_t>(exchange->requestHead.size() + requestLength) + tls / 3;
            // Many connections stay open idle after their exchange, waiting for the next one.
            if (random.chance(40))
                t.tPlannedEnd += random.between(1000, 15000);
        }
        if (refused) {
            t.tFirstByte = t.tTransferEnd = t.tPlannedEnd = t.tRule + random.between(0, 2);
            t.rxTotal = t.txTotal = 0;
            t.plannedReason = 6;
        } else if ((site.style == Style::Mail || site.style == Style::Push || site.style == Style::Socks) && random.chance(30)) {
            t.plannedReason = 4;
        } else if (random.chance(1) && random.chance(20)) {
            t.plannedReason = 5;
        }

        // What never changes, written once.
        NestedObjectWriter w(t.staticPart, true);
        w.integer("id", t.id);
        w.integer("type", site.type);
        w.string("host", site.host);
        w.integer("port", site.port);
        const bool modified = site.type == kHttp && client.profile.browser;
        if (site.type == kHttp) {
            w.string("headerString", exchange->requestHead);
            w.boolean("headerModified", modified);
            std::string origin;
            if (modified) {
                // The proxy forwards the origin form and drops what was meant for itself.
                origin = exchange->requestHead;
                const auto scheme = origin.find("http://");
                origin.erase(scheme, origin.find('/', scheme + 7) - scheme);
                const auto hop = origin.find("Proxy-Connection: keep-alive\r\n");
                origin.erase(hop, std::string_view("Proxy-Connection: keep-alive\r\n").size());
            }
            w.string("modifiedHeaderString", origin);
            w.string("responseHeader", exchange->responseHead);
            w.string("responseCode", status.substr(0, 3));
        } else if (site.type == kHttps) {
            w.string("headerString", "CONNECT " + hostHeader(site) + (site.port == 443 ? ":443" : "") + " HTTP/1.1\r\nHost: " +
                                         hostHeader(site) + (site.port == 443 ? ":443" : "") + "\r\nUser-Agent: " + client.profile.agent +
                                         "\r\nProxy-Connection: keep-alive\r\n\r\n");
            w.boolean("headerModified", false);
            w.string("modifiedHeaderString", "");
            w.string("responseHeader", refused ? "" : "HTTP/1.1 200 Connection established\r\n\r\n");
            w.string("responseCode", refused ? "" : "200");
        } else {
            w.string("headerString", "");
            w.boolean("headerModified", false);
            w.string("modifiedHeaderString", "");
            w.string("responseHeader", "");
            w.string("responseCode", "");
        }
        w.boolean("responseModified", false);
        w.string("SSLHost", site.type == kHttps ? site.host : "");
        if (opened) {
            const bool rewritten = random.chance(8);
            w.string("SSLHeaderString", exchange->requestHead);
            w.boolean("SSLHeaderModified", rewritten);
            std::string changed;
            if (rewritten) {
                changed = exchange->requestHead;
                changed.insert(changed.size() - 2, "X-Debug-Trace: " + random.hex(16) + "\r\n");
            }
            w.string("SSLModifiedHeaderString", changed);
            w.string("SSLResponseHeader", exchange->responseHead);
            w.string("SSLResponseCode", status.substr(0, 3));
            w.boolean("SSLResponseModified", random.chance(4));
        } else {
            w.string("SSLHeaderString", "");
            w.boolean("SSLHeaderModified", false);
            w.string("SSLModifiedHeaderString", "");
            w.string("SSLResponseHeader", "");
            w.string("SSLResponseCode", "");
            w.boolean("SSLResponseModified", false);
        }
        w.boolean("hasSend", exchange->captured && exchange->requestBody != BodyKind::None);
        w.string("processName", client.profile.name);
        w.integer("processIdentifier", client.pid);
        w.string("bundleIdentifier", client.profile.bundle);
        w.string("processPath", client.profile.path);
        w.string("fromHost", client.profile.fromHost);
        w.integer("fromPort", random.between(49152, 65535));
        w.string("ipAddr", site.literal ? std::string(site.host) : addressesOf(site.host).front());
        w.string("outboundMode", "Rule");
        w.string("ruleInfo", site.rule);
        w.string("policyName", site.policy);
        t.exchange = std::move(exchange);
        return t;
    }

    // --- moving on ---------------------------------------------------------------------------

    void advance(Tunnel& t)
    {
        const int revealed = (t.tServerReady <= now) + (t.tDns <= now) + (t.tRule <= now) + (t.tProxy && t.tProxy <= now);
        bool changed = revealed != t.revealed;
        t.revealed = revealed;

        std::int64_t rx = t.rx;
        std::int64_t tx = t.tx;
        if (now >= t.tFirstByte && t.tProxy) {
            switch (t.style) {
            case Style::Api:
            case Style::Page:
            case Style::Image: {
                const double span = static_cast<double>(std::max<std::int64_t>(1, t.tTransferEnd - t.tFirstByte));
                const double p = std::min(1.0, static_cast<double>(now - t.tFirstByte) / span);
                rx = static_cast<std::int64_t>(static_cast<double>(t.rxTotal) * p * p * (3 - 2 * p));
                tx = t.txTotal;
                break;
            }
            case Style::Download: {
                const double ramp = std::min(1.0, static_cast<double>(now - t.tFirstByte) / 3000.0);
                rx += static_cast<std::int64_t>(static_cast<double>(t.rxTotal) / 4 * ramp * static_cast<double>(random.between(85, 115)) / 100);
                tx += random.between(0, 400);
                break;
            }
            case Style::Stream:
                if (t.rx == 0)
                    rx += static_cast<std::int64_t>(t.exchange->responseHead.size()) + random.between(3000, 7000);
                if (random.chance(40))
                    rx += random.between(200, 5000);
                if (random.chance(10))
                    tx += random.between(60, 400);
                break;
            case Style::Mail:
                if (random.chance(5)) {
                    rx += random.between(1000, 50000);
                    tx += random.between(100, 2000);
                }
                break;
            case Style::Push:
                if (random.chance(3)) {
                    rx += random.between(100, 800);
                    tx += random.between(50, 200);
                }
                break;
            case Style::Socks:
                if (random.chance(25)) {
                    rx += random.between(1000, 200000);
                    tx += random.between(100, 20000);
                }
                break;
            }
        } else if (t.tProxy && now >= t.tProxy && t.tx == 0) {
            tx = t.txTotal ? t.txTotal / 2 : random.between(200, 600); // the request, or a protocol greeting, goes out
        }
        const std::int64_t rxSpeed = (rx - t.rx) * 1000 / kStepMs;
        const std::int64_t txSpeed = (tx - t.tx) * 1000 / kStepMs;
        changed = changed || rx != t.rx || tx != t.tx || rxSpeed != t.rxSpeed || txSpeed != t.txSpeed;
        totalRx += rx - t.rx;
        totalTx += tx - t.tx;
        t.rx = rx;
        t.tx = tx;
        t.rxSpeed = rxSpeed;
        t.txSpeed = txSpeed;
        t.rxMax = std::max(t.rxMax, rxSpeed);
        t.txMax = std::max(t.txMax, txSpeed);
        if (!t.hasReceive && t.rx > 0 && t.exchange->captured && t.exchange->responseBody != BodyKind::None) {
            t.hasReceive = true;
            changed = true;
        }
        t.dirty = t.dirty || changed;
    }

    void writeDynamic(std::string& out, const Tunnel& t, std::int64_t endId, std::uint64_t reason, std::int64_t tClose,
                      std::int64_t tEnd) const
    {
        const auto shown = [&](std::int64_t stamp) { return stamp && stamp <= std::max(now, tEnd) ? stamp : 0; };
        NestedObjectWriter w(out, false);
        w.integer("endId", endId);
        w.integer("closeReason", static_cast<std::int64_t>(reason));
        w.seconds("t_start", t.tStart);
        w.seconds("t_server_ready", shown(t.tServerReady));
        w.seconds("t_dns_resolved", shown(t.tDns));
        w.seconds("t_rule_found", shown(t.tRule));
        w.seconds("t_proxy_ready", shown(t.tProxy));
        w.seconds("t_close", tClose);
        w.seconds("t_end", tEnd);
        w.boolean("hasReceive", t.hasReceive);
        w.integer("rx", t.rx);
        w.integer("tx", t.tx);
        w.integer("rx_speed", t.rxSpeed);
        w.integer("tx_speed", t.txSpeed);
        w.integer("rx_max_speed", t.rxMax);
        w.integer("tx_max_speed", t.txMax);
    }

    std::string textOf(const Tunnel& t, std::int64_t endId, std::uint64_t reason, std::int64_t tClose, std::int64_t tEnd) const
    {
        std::string out;
        out.reserve(t.staticPart.size() + 420);
        out += "\"{";
        writeDynamic(out, t, endId, reason, tClose, tEnd);
        out += t.staticPart;
        out += "}\"";
        return out;
    }

    void close(Tunnel& t, std::uint64_t reason, std::int64_t tClose)
    {
        if (t.style == Style::Api || t.style == Style::Page || t.style == Style::Image) {
            if (reason != 1 && t.tProxy) {
                totalRx += t.rxTotal - t.rx;
                totalTx += t.txTotal - t.tx;
                t.rx = t.rxTotal;
                t.tx = t.txTotal;
            }
        }
        if (!t.hasReceive && t.rx > 0 && t.exchange->captured && t.exchange->responseBody != BodyKind::None)
            t.hasReceive = true;
        t.rxSpeed = t.txSpeed = 0;
        const std::int64_t tEnd = tClose + random.between(0, 3);
        Record record;
        record.id = t.id;
        record.place = nextNumber++;
        record.text = textOf(t, record.place + 1, reason, tClose, tEnd);
        record.exchange = std::move(t.exchange);
        record.hasReceive = t.hasReceive;
        recent.push_back(std::move(record));
        if (recent.size() > kRecentLimit)
            recent.pop_front();
        activeValid = false;
    }

    std::vector<std::string> stepUdp()
    {
        std::vector<std::string> texts;
        for (auto& u : udp) {
            ++u.stage;
            if (u.stage == 1) {
                u.status = u.policy == "REJECT" ? 2 : 1;
                if (u.status == 2)
                    u.tEnd = now - random.between(0, kStepMs - 1);
            } else {
                u.direction = 1;
                u.tEnd = now - random.between(0, kStepMs - 1);
            }
            texts.push_back(udpText(u));
        }
        std::erase_if(udp, [](const Udp& u) { return u.tEnd != 0; });

        struct Kind {
            const char* host;
            std::int64_t port;
            const char* rule;
            const char* policy;
        };
        static constexpr std::array<Kind, 5> kKinds{{{"192.168.1.1", 53, "IP-CIDR,192.168.0.0/16", "DIRECT"},
                                                     {"www.example.com", 443, "FINAL", "Proxy"},
                                                     {"time.example.com", 123, "DOMAIN,time.example.com", "DIRECT"},
                                                     {"telemetry.example.org", 443, "DOMAIN-SUFFIX,telemetry.example.org", "REJECT"},
                                                     {"2001:db8::53", 53, "IP-CIDR6,2001:db8::/32", "DIRECT"}}};
        std::int64_t arrivals = random.chance(50) ? 1 : 0;
        if (options.scale)
            arrivals += std::min<std::int64_t>(20, static_cast<std::int64_t>(options.scale) / 500);
        for (; arrivals > 0; --arrivals) {
            const Client& client = pickClient();
            const Kind& kind = kKinds[random.next() % kKinds.size()];
            Udp u;
            u.id = nextUdp++;
            u.fromHost = client.profile.fromHost;
            u.fromPort = random.between(49152, 65535);
            u.host = kind.host;
            u.port = kind.port;
            u.rule = kind.rule;
            u.policy = kind.policy;
            u.tTime = now - random.between(0, kStepMs - 1);
            u.tRule = u.tTime + random.between(0, 2);
            texts.push_back(udpText(u));
            udp.push_back(std::move(u));
        }
        return texts;
    }

    static std::string udpText(const Udp& u)
    {
        const auto seconds = [](std::int64_t ms) { return static_cast<double>(ms) / 1000; };
        return Json{{"id", u.id},
                    {"status", u.status},
                    {"direction", u.direction},
                    {"fromHost", u.fromHost},
                    {"fromPort", u.fromPort},
                    {"host", u.host},
                    {"port", u.port},
                    {"outboundMode", "Rule"},
                    {"ruleInfo", u.rule},
                    {"policyName", u.policy},
                    {"t_time", seconds(u.tTime)},
                    {"t_rule_found", seconds(u.tRule)},
                    {"t_end", seconds(u.tEnd)}}
            .dump();
    }

    TrafficModel::StepResult step()
    {
        now += kStepMs;
        ++steps;
        dnsChanged = false;
        activeValid = false;
        for (auto& t : active)
            advance(t);

        // Tunnels that are due close in the order they ended, so places follow time.
        std::vector<std::size_t> due;
        for (std::size_t i = 0; i < active.size(); ++i) {
            if (active[i].tPlannedEnd <= now)
                due.push_back(i);
        }
        std::sort(due.begin(), due.end(), [&](std::size_t a, std::size_t b) {
            return std::tie(active[a].tPlannedEnd, active[a].id) < std::tie(active[b].tPlannedEnd, active[b].id);
        });
        for (const auto i : due)
            close(active[i], active[i].plannedReason, std::max(active[i].tPlannedEnd, active[i].tStart + 1));
        std::erase_if(active, [](const Tunnel& t) { return !t.exchange; });

        // Openings: a drifting load by default, an exact count for load tests.
        std::int64_t opens = 0;
        const auto count = static_cast<std::int64_t>(active.size());
        if (options.scale) {
            opens = target - count;
        } else {
            target = std::clamp<std::int64_t>(target + random.between(-1, 1), 20, 60);
            opens = count < target ? std::min<std::int64_t>(target - count, random.between(1, 4)) : (random.chance(15) ? 1 : 0);
        }
        for (; opens > 0; --opens) {
            active.push_back(open());
            advance(active.back());
        }

        for (auto it = dynamicDns.begin(); it != dynamicDns.end();) {
            if (it->second.expiresMs <= now) {
                it = dynamicDns.erase(it);
                dnsChanged = true;
            } else {
                ++it;
            }
        }

        StepResult result;
        result.udpTexts = stepUdp();
        result.dnsChanged = dnsChanged;
        return result;
    }

    const std::string& activeTexts()
    {
        if (activeValid)
            return activeReport;
        activeReport.clear();
        for (auto& t : active) {
            if (t.dirty) {
                t.text = textOf(t, 0, 0, 0, 0);
                t.dirty = false;
            }
            if (!activeReport.empty())
                activeReport += ',';
            activeReport += t.text;
        }
        activeValid = true;
        return activeReport;
    }

    ModelOptions options;
    TrafficGenerator random;
    std::vector<Client> clients;
    std::uint64_t totalWeight = 0;
    std::int64_t now = 0;
    std::uint64_t steps = 0;
    std::int64_t target = 0;
    std::int64_t nextNumber = 1;
    std::int64_t nextUdp = 1;
    bool recordingOn = true;
    bool mitmOn = true;
    bool dnsChanged = false;
    std::int64_t totalRx = 0;
    std::int64_t totalTx = 0;
    std::vector<Tunnel> active;
    std::deque<Record> recent;
    std::string activeReport;
    bool activeValid = false;
    std::vector<Named> hostsFile;
    std::vector<Named> configured;
    std::map<std::string, DnsEntry, std::less<>> dynamicDns;
    std::vector<Udp> udp;
    std::vector<std::string> locals{"192.168.1.10", "fd00::10"};
    mutable std::map<std::pair<BodyKind, std::uint64_t>, std::optional<std::string>> bodies;
};

TrafficModel::TrafficModel(ModelOptions options) : state_(std::make_unique<State>(options))
{
    for (int i = 0; i < kWarmUpSteps; ++i)
        state_->step();
}

TrafficModel::~TrafficModel() = default;

TrafficModel::StepResult TrafficModel::step() { return state_->step(); }
std::int64_t TrafficModel::nowMs() const { return state_->now; }
std::uint64_t TrafficModel::steps() const { return state_->steps; }
const std::vector<std::string>& TrafficModel::localAddresses() const { return state_->locals; }
bool TrafficModel::recording() const { return state_->recordingOn; }
void TrafficModel::setRecording(bool on) { state_->recordingOn = on; }
bool TrafficModel::mitm() const { return state_->mitmOn; }
void TrafficModel::setMitm(bool on) { state_->mitmOn = on; }
std::size_t TrafficModel::activeCount() const { return state_->active.size(); }
const std::string& TrafficModel::activeTexts() { return state_->activeTexts(); }
std::size_t TrafficModel::recentCount() const { return state_->recent.size(); }

std::string TrafficModel::recentTexts(const RecentRange& range) const
{
    const auto& recent = state_->recent;
    auto first = std::lower_bound(recent.begin(), recent.end(), range.from,
                                  [](const Record& r, std::int64_t place) { return r.place < place; });
    auto last = std::upper_bound(first, recent.end(), range.to, [](std::int64_t place, const Record& r) { return place < r.place; });
    if (range.firstCount && last - first > *range.firstCount)
        last = first + *range.firstCount;
    if (range.lastCount && last - first > *range.lastCount)
        first = last - *range.lastCount;
    std::string out;
    for (auto it = first; it != last; ++it) {
        if (!out.empty())
            out += ',';
        out += it->text;
    }
    return out;
}

nlohmann::ordered_json TrafficModel::dnsTable() const
{
    const auto fixed = [](const std::vector<State::Named>& entries) {
        Json list = Json::array();
        for (const auto& e : entries)
            list.push_back({{"domain", e.domain}, {"ips", e.ips}, {"comment", e.comment}});
        return list;
    };
    Json dynamic = Json::array();
    for (const auto& [domain, e] : state_->dynamicDns) {
        Json entry{{"domain", domain}, {"ips", e.ips}};
        if (e.doh) {
            entry["dns"] = "";
            entry["doh"] = e.server;
        } else {
            entry["dns"] = e.server;
        }
        entry["comment"] = e.comment;
        entry["ttl"] = (e.expiresMs - state_->now + 999) / 1000;
        dynamic.push_back(std::move(entry));
    }
    return {{"host_file", fixed(state_->hostsFile)}, {"host_config", fixed(state_->configured)}, {"record", std::move(dynamic)}};
}

std::size_t TrafficModel::purgeDns()
{
    const auto count = state_->dynamicDns.size();
    state_->dynamicDns.clear();
    return count;
}

bool TrafficModel::removeDns(std::string_view domain)
{
    const auto it = state_->dynamicDns.find(domain);
    if (it == state_->dynamicDns.end())
        return false;
    state_->dynamicDns.erase(it);
    return true;
}

bool TrafficModel::closeTunnel(std::int64_t id)
{
    auto& active = state_->active;
    const auto it = std::find_if(active.begin(), active.end(), [&](const Tunnel& t) { return t.id == id; });
    if (it == active.end())
        return false;
    state_->close(*it, 1, std::max(state_->now, it->tStart + 1));
    active.erase(it);
    return true;
}

std::optional<std::string> TrafficModel::capturedMessage(std::int64_t id, bool request) const
{
    const Exchange* exchange = nullptr;
    bool received = false;
    for (const auto& t : state_->active) {
        if (t.id == id) {
            exchange = t.exchange.get();
            received = t.hasReceive;
        }
    }
    if (!exchange) {
        for (const auto& r : state_->recent) {
            if (r.id == id) {
                exchange = r.exchange.get();
                received = r.hasReceive;
            }
        }
    }
    if (!exchange)
        return std::nullopt;
    if (!exchange->captured)
        return std::string();
    if (request)
        return exchange->requestBody == BodyKind::None
                   ? std::string()
                   : exchange->requestHead + state_->body(exchange->requestBody, requestSeed(exchange->seed));
    // A response counts as captured once its first bytes have come; one without a body has
    // nothing to show.
    if (!received || exchange->responseBody == BodyKind::None)
        return std::string();
    return exchange->responseHead + state_->body(exchange->responseBody, responseSeed(exchange->seed));
}

std::optional<std::string> TrafficModel::icon(std::string_view bundleId) const
{
    const auto& clients = state_->clients;
    if (bundleId.empty() || std::none_of(clients.begin(), clients.end(), [&](const Client& c) { return c.profile.bundle == bundleId; }))
        return std::nullopt;
    // A rounded square in a colour of the application's own, with a light band across it.
    constexpr std::uint32_t kSize = 32;
    const auto hash = fnv1a(bundleId);
    const auto r = static_cast<std::uint8_t>(40 + hash % 180);
    const auto g = static_cast<std::uint8_t>(40 + (hash >> 8) % 180);
    const auto b = static_cast<std::uint8_t>(40 + (hash >> 16) % 180);
    std::vector<std::uint8_t> pixels;
    pixels.reserve(kSize * kSize * 4);
    for (std::uint32_t y = 0; y < kSize; ++y) {
        for (std::uint32_t x = 0; x < kSize; ++x) {
            const int dx = static_cast<int>(std::max({0u, 6u - std::min(x, 6u), x > 25 ? x - 25 : 0u}));
            const int dy = static_cast<int>(std::max({0u, 6u - std::min(y, 6u), y > 25 ? y - 25 : 0u}));
            const bool inside = dx * dx + dy * dy <= 36;
            const bool band = x + y >= 28 && x + y <= 34;
            pixels.push_back(band ? 255 : r);
            pixels.push_back(band ? 255 : g);
            pixels.push_back(band ? 255 : b);
            pixels.push_back(inside ? 255 : 0);
        }
    }
    const Bytes png = encodePng(kSize, kSize, pixels);
    return std::string(png.begin(), png.end());
}

nlohmann::ordered_json TrafficModel::processes() const
{
    Json list = Json::array();
    for (const auto& c : state_->clients) {
        if (c.profile.name[0])
            list.push_back({{"processName", c.profile.name},
                            {"processIdentifier", c.pid},
                            {"bundleIdentifier", c.profile.bundle},
                            {"processPath", c.profile.path}});
    }
    return list;
}

nlohmann::ordered_json TrafficModel::trafficInfo() const
{
    std::int64_t rxSpeed = 0;
    std::int64_t txSpeed = 0;
    for (const auto& t : state_->active) {
        rxSpeed += t.rxSpeed;
        txSpeed += t.txSpeed;
    }
    return {{"rx", state_->totalRx},
            {"tx", state_->totalTx},
            {"rx_speed", rxSpeed},
            {"tx_speed", txSpeed},
            {"active", state_->active.size()},
            {"recent", state_->recent.size()}};
}

} // namespace vd::sim
