#include "TunnelStaticText.h"

#include <string_view>

#include "JsonText.h"

namespace vd::sim {
namespace {

constexpr std::string_view kProxyHop = "Proxy-Connection: keep-alive\r\n";

// The proxy forwards the origin form and drops what was meant for itself.
std::string originFormOf(std::string head)
{
    const auto scheme = head.find("http://");
    head.erase(scheme, head.find('/', scheme + 7) - scheme);
    head.erase(head.find(kProxyHop), kProxyHop.size());
    return head;
}

void writeTarget(NestedObjectWriter& w, const StaticFacts& f)
{
    w.integer("id", f.id);
    w.integer("type", f.site.type);
    w.string("host", f.site.host);
    w.integer("port", f.site.port);
}

void writePlainHttpHeaders(NestedObjectWriter& w, const StaticFacts& f)
{
    const bool modified = f.client.profile.browser;
    w.string("headerString", f.exchange.requestHead);
    w.boolean("headerModified", modified);
    w.string("modifiedHeaderString", modified ? originFormOf(f.exchange.requestHead) : std::string());
    w.string("responseHeader", f.exchange.responseHead);
    w.string("responseCode", f.status.substr(0, 3));
}

void writeConnectHeaders(NestedObjectWriter& w, const StaticFacts& f)
{
    const std::string authority = hostHeader(f.site) + (f.site.port == 443 ? ":443" : "");
    w.string("headerString", "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\nUser-Agent: " + f.client.profile.agent +
                                 "\r\nProxy-Connection: keep-alive\r\n\r\n");
    w.boolean("headerModified", false);
    w.string("modifiedHeaderString", "");
    w.string("responseHeader", f.refused ? "" : "HTTP/1.1 200 Connection established\r\n\r\n");
    w.string("responseCode", f.refused ? "" : "200");
}

void writeNoProxyHeaders(NestedObjectWriter& w)
{
    w.string("headerString", "");
    w.boolean("headerModified", false);
    w.string("modifiedHeaderString", "");
    w.string("responseHeader", "");
    w.string("responseCode", "");
}

void writeProxyHeaders(NestedObjectWriter& w, const StaticFacts& f)
{
    if (f.site.type == kHttp)
        writePlainHttpHeaders(w, f);
    else if (f.site.type == kHttps)
        writeConnectHeaders(w, f);
    else
        writeNoProxyHeaders(w);
    w.boolean("responseModified", false);
    w.string("SSLHost", f.site.type == kHttps ? f.site.host : "");
}

void writeOpenedTlsHeaders(NestedObjectWriter& w, const StaticFacts& f, TrafficGenerator& random)
{
    const bool rewritten = random.chance(8);
    w.string("SSLHeaderString", f.exchange.requestHead);
    w.boolean("SSLHeaderModified", rewritten);
    std::string changed;
    if (rewritten) {
        changed = f.exchange.requestHead;
        changed.insert(changed.size() - 2, "X-Debug-Trace: " + random.hex(16) + "\r\n");
    }
    w.string("SSLModifiedHeaderString", changed);
    w.string("SSLResponseHeader", f.exchange.responseHead);
    w.string("SSLResponseCode", f.status.substr(0, 3));
    w.boolean("SSLResponseModified", random.chance(4));
}

void writeClosedTlsHeaders(NestedObjectWriter& w)
{
    w.string("SSLHeaderString", "");
    w.boolean("SSLHeaderModified", false);
    w.string("SSLModifiedHeaderString", "");
    w.string("SSLResponseHeader", "");
    w.string("SSLResponseCode", "");
    w.boolean("SSLResponseModified", false);
}

void writeClientAndRule(NestedObjectWriter& w, const StaticFacts& f, TrafficGenerator& random)
{
    const auto& profile = f.client.profile;
    w.string("processName", profile.name);
    w.integer("processIdentifier", f.client.pid);
    w.string("bundleIdentifier", profile.bundle);
    w.string("processPath", profile.path);
    w.string("fromHost", profile.fromHost);
    w.integer("fromPort", random.between(49152, 65535));
    w.string("ipAddr", f.site.literal ? std::string(f.site.host) : addressesOf(f.site.host).front());
    w.string("outboundMode", "Rule");
    w.string("ruleInfo", f.site.rule);
    w.string("policyName", f.site.policy);
}

} // namespace

std::string staticTextOf(const StaticFacts& facts, TrafficGenerator& random)
{
    std::string out;
    NestedObjectWriter w(out, true);
    writeTarget(w, facts);
    writeProxyHeaders(w, facts);
    if (facts.opened)
        writeOpenedTlsHeaders(w, facts, random);
    else
        writeClosedTlsHeaders(w);
    w.boolean("hasSend", facts.exchange.captured && facts.exchange.requestBody != BodyKind::None);
    writeClientAndRule(w, facts, random);
    return out;
}

} // namespace vd::sim
