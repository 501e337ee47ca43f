#include "TrafficGenerator.h"

#include <array>

#include <nlohmann/json.hpp>

namespace vd::sim {
namespace {

template <typename T, std::size_t N>
const T& pick(TrafficGenerator& random, const std::array<T, N>& items)
{
    return items[random.next() % N];
}

struct Client {
    const char* name;
    const char* bundle;
    const char* path;
};

constexpr std::array<Client, 8> kClients{{
    {"Safari", "com.apple.Safari", "/Applications/Safari.app/Contents/MacOS/Safari"},
    {"Google Chrome Helper", "com.google.Chrome.helper", "/Applications/Google Chrome.app/Contents/Frameworks/Helper"},
    {"Slack Helper", "com.tinyspeck.slackmacgap.helper", "/Applications/Slack.app/Contents/Frameworks/Slack Helper"},
    {"curl", "", "/usr/bin/curl"},
    {"nsurlsessiond", "", "/usr/libexec/nsurlsessiond"},
    {"Mail", "com.apple.mail", "/System/Applications/Mail.app/Contents/MacOS/Mail"},
    {"Code Helper", "com.microsoft.VSCode.helper", "/Applications/Visual Studio Code.app/Contents/Frameworks/Code Helper"},
    {"node", "", "/usr/local/bin/node"},
}};
constexpr std::array<const char*, 14> kHosts{
    "api.github.com", "www.example.com", "fonts.example-cdn.net", "update.example.org", "chat.example.io",
    "edge.example.net", "gateway.example.com", "cdn.example-static.net", "s3.eu-west-1.example-storage.com",
    "telemetry.example-shop.io", "login.example.com", "static.example-assets.com", "registry.example.org",
    "2001:db8::20",
};
constexpr std::array<const char*, 6> kResources{"repos", "users", "events", "items", "sessions", "assets"};
constexpr std::array<const char*, 4> kAgents{
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.4 Safari/605.1.15",
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/124.0.0.0 Safari/537.36",
    "curl/8.4.0",
    "node-fetch/1.0",
};
constexpr std::array<const char*, 5> kStatus{"200 OK", "204 No Content", "304 Not Modified", "301 Moved Permanently",
                                             "404 Not Found"};
constexpr std::array<const char*, 4> kPolicies{"DIRECT", "Proxy", "Auto", "REJECT"};
constexpr std::array<const char*, 3> kModes{"Rule", "Global", "Direct"};

} // namespace

TrafficGenerator::TrafficGenerator(std::uint64_t seed) : state_(seed) {}

// SplitMix64: the same seed gives the same bytes with every standard library.
std::uint64_t TrafficGenerator::next()
{
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::int64_t TrafficGenerator::between(std::int64_t low, std::int64_t high)
{
    return low + static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(high - low + 1));
}

std::string TrafficGenerator::hex(std::size_t length)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(length, '0');
    for (auto& c : out)
        c = kDigits[next() % 16];
    return out;
}

std::string TrafficGenerator::token(std::size_t length)
{
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out(length, 'A');
    for (auto& c : out)
        c = kChars[next() % 64];
    return out;
}

std::string TrafficGenerator::requestHeader(const std::string& method, const std::string& host, const std::string& path)
{
    std::string h = method + " " + path + " HTTP/1.1\r\nHost: " + host + "\r\n";
    h += std::string("User-Agent: ") + pick(*this, kAgents) + "\r\n";
    h += "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n";
    h += "Accept-Language: en-GB,en;q=0.9,de;q=0.7\r\nAccept-Encoding: gzip, deflate, br\r\n";
    if (chance(50))
        h += "sec-ch-ua: \"Chromium\";v=\"124\", \"Not-A.Brand\";v=\"99\"\r\nsec-ch-ua-platform: \"macOS\"\r\n";
    if (chance(40))
        h += "If-None-Match: W/\"" + hex(32) + "\"\r\n";
    h += "Cookie: _ga=GA1.2." + std::to_string(between(100000000, 999999999)) + "; session=\"" + token(24) +
         "\"; theme=\"dark\"\r\n";
    if (chance(25))
        h += "Authorization: Bearer " + token(64) + "\r\n";
    if (method == "POST")
        h += "Content-Type: application/json; charset=\"utf-8\"\r\nContent-Length: " + std::to_string(between(20, 40000)) + "\r\n";
    h += "Referer: https://" + host + "/" + token(12) + "\r\nX-Request-Id: " + hex(8) + "-" + hex(4) + "-" + hex(12) +
         "\r\nConnection: keep-alive\r\n\r\n";
    return h;
}

std::string TrafficGenerator::responseHeader(const std::string& status, const std::string& host, std::int64_t length)
{
    std::string h = "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(length) + "\r\nETag: \"" + hex(40) + "\"\r\n";
    h += "Date: Thu, 25 Apr 2024 " + std::to_string(between(10, 23)) + ":" + std::to_string(between(10, 59)) + ":" +
         std::to_string(between(10, 59)) + " GMT\r\nContent-Type: application/json; charset=utf-8\r\n";
    h += "Cache-Control: private, max-age=0, must-revalidate\r\n";
    h += "Set-Cookie: __bm=" + token(43) + "; path=/; domain=." + host + "; HttpOnly; Secure; SameSite=None\r\n";
    h += "Alt-Svc: h3=\":443\"; ma=86400\r\n";
    if (chance(30))
        h += "Link: <https://" + host + "/static/app." + hex(8) + ".css>; rel=\"preload\"; as=\"style\"\r\n";
    if (chance(50))
        h += "Strict-Transport-Security: max-age=31536000; includeSubDomains; preload\r\n";
    h += "Server-Timing: total;dur=" + std::to_string(between(1, 900)) + "\r\nVary: Accept-Encoding, Origin\r\n\r\n";
    return h;
}

std::string TrafficGenerator::tunnelText(std::int64_t id, double now, bool active)
{
    const Client& client = pick(*this, kClients);
    const std::string host = pick(*this, kHosts);
    const bool https = chance(70);
    const std::string method = chance(75) ? "GET" : "POST";
    const std::string path = std::string("/v2/") + pick(*this, kResources) + "/" + std::to_string(between(1, 9999999)) +
                             "?page=" + std::to_string(between(1, 40)) + "&q=" + token(10);
    const std::string status = pick(*this, kStatus);
    const std::int64_t received = between(0, 4000000);
    const double start = active ? now - static_cast<double>(between(0, 30000)) / 1000 : now - static_cast<double>(between(1000, 90000)) / 1000;
    const double serverReady = start + static_cast<double>(between(1, 20)) / 1000;
    const double dnsResolved = serverReady + static_cast<double>(between(0, 80)) / 1000;
    const double ruleFound = dnsResolved + static_cast<double>(between(0, 3)) / 1000;
    const double proxyReady = ruleFound + static_cast<double>(between(5, 300)) / 1000;
    const double end = active ? 0.0 : proxyReady + static_cast<double>(between(10, 60000)) / 1000;
    const std::string request = requestHeader(method, host, path);
    const std::string response = responseHeader(status, host, received);

    nlohmann::ordered_json t = nlohmann::ordered_json::object();
    t["id"] = id;
    t["endId"] = id;
    t["type"] = https ? 2 : 1;
    t["closeReason"] = active ? 0 : (chance(90) ? 0 : between(1, 6));
    t["t_start"] = start;
    t["t_server_ready"] = serverReady;
    t["t_dns_resolved"] = dnsResolved;
    t["t_rule_found"] = ruleFound;
    t["t_proxy_ready"] = proxyReady;
    t["t_close"] = end;
    t["t_end"] = end;
    t["host"] = host;
    t["port"] = https ? 443 : 80;
    t["ipAddr"] = std::to_string(between(1, 223)) + "." + std::to_string(between(0, 255)) + "." +
                  std::to_string(between(0, 255)) + "." + std::to_string(between(1, 254));
    t["headerString"] = https ? std::string("CONNECT ") + host + ":443 HTTP/1.1\r\nHost: " + host + ":443\r\n\r\n" : request;
    t["headerModified"] = false;
    t["modifiedHeaderString"] = "";
    t["responseHeader"] = https ? "HTTP/1.1 200 Connection established\r\n\r\n" : response;
    t["responseCode"] = https ? "200" : status.substr(0, 3);
    t["responseModified"] = false;
    t["SSLHost"] = https ? host : "";
    t["SSLHeaderString"] = https ? request : "";
    t["SSLHeaderModified"] = false;
    t["SSLModifiedHeaderString"] = "";
    t["SSLResponseHeader"] = https ? response : "";
    t["SSLResponseCode"] = https ? status.substr(0, 3) : "";
    t["SSLResponseModified"] = false;
    t["hasReceive"] = !active && received > 0;
    t["hasSend"] = method == "POST";
    t["processName"] = client.name;
    t["processIdentifier"] = between(200, 99999);
    t["bundleIdentifier"] = client.bundle;
    t["processPath"] = client.path;
    t["fromHost"] = chance(85) ? "127.0.0.1" : "192.168.1." + std::to_string(between(2, 254));
    t["fromPort"] = between(49152, 65535);
    t["outboundMode"] = pick(*this, kModes);
    t["ruleInfo"] = "DOMAIN-SUFFIX," + host;
    t["policyName"] = pick(*this, kPolicies);
    t["rx"] = received;
    t["tx"] = between(200, 60000);
    t["rx_speed"] = active ? between(0, 2000000) : 0;
    t["tx_speed"] = active ? between(0, 200000) : 0;
    t["rx_max_speed"] = between(0, 9000000);
    t["tx_max_speed"] = between(0, 900000);
    return t.dump();
}

} // namespace vd::sim
