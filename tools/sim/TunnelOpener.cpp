#include "TunnelOpener.h"

#include <algorithm>
#include <string_view>

#include "TrafficModel.h"
#include "TunnelStaticText.h"

namespace vd::sim {

Tunnel TunnelOpener::open(std::int64_t id, std::int64_t now, CaptureSwitches capture)
{
    const Client& client = clients_.pick();
    const Site& site = destinationOf(client);
    Opening opening{client, site, std::string_view(site.policy) == "REJECT", false, {}, {}};
    Tunnel t;
    t.id = id;
    t.style = site.style;
    planTimeline(t, site, opening.refused, now);
    makeExchange(opening, t.tStart, capture);
    planTransfer(t, opening);
    planEnding(t, opening);
    t.staticPart = staticTextOf(StaticFacts{t.id, client, site, opening.refused, opening.opened, opening.status, *opening.exchange},
                                random_);
    t.exchange = std::move(opening.exchange);
    return t;
}

const Site& TunnelOpener::destinationOf(const Client& client)
{
    return siteAt(client.profile.sites[random_.next() % client.profile.sites.size()]);
}

void TunnelOpener::planTimeline(Tunnel& t, const Site& site, bool refused, std::int64_t now)
{
    t.tStart = std::max<std::int64_t>(1, now - random_.between(0, TrafficModel::kStepMs - 1));
    t.tServerReady = t.tStart + random_.between(1, 20);
    t.tDns = t.tServerReady + dns_.resolve(site, t.tStart);
    t.tRule = t.tDns + random_.between(0, 3);
    const bool direct = std::string_view(site.policy) == "DIRECT";
    t.tProxy = refused ? 0 : t.tRule + (direct ? random_.between(5, 80) : random_.between(40, 300));
}

std::string TunnelOpener::methodFor(Style style)
{
    return style == Style::Api ? (random_.chance(70) ? "GET" : random_.chance(80) ? "POST" : "PUT") : "GET";
}

void TunnelOpener::makeExchange(Opening& opening, std::int64_t at, CaptureSwitches capture)
{
    const Site& site = opening.site;
    const std::string method = methodFor(site.style);
    const bool http = site.type == kHttp || site.type == kHttps;
    opening.opened = site.type == kHttps && capture.mitm && site.interceptable && !opening.refused;
    opening.exchange = std::make_shared<Exchange>();
    opening.exchange->seed = random_.next();
    if (!http)
        return;
    opening.status = exchanges_.fill(*opening.exchange, site, opening.client, method, at);
    opening.exchange->captured = capture.recording && !opening.refused && (site.type == kHttp || opening.opened);
}

// Finite exchanges end with their totals, long-lived ones trickle.
void TunnelOpener::planTransfer(Tunnel& t, const Opening& opening)
{
    const Site& site = opening.site;
    const std::int64_t tls = site.type == kHttps ? random_.between(3000, 7000) : 0;
    planFirstAndLastByte(t, site.style, opening.refused ? t.tRule : t.tProxy);
    t.tTransferEnd = t.tPlannedEnd;
    if (!isFinite(site.style))
        return;
    const Exchange& exchange = *opening.exchange;
    t.rxTotal = static_cast<std::int64_t>(exchange.responseHead.size() + bodies_.responseBodyOf(exchange).size()) + tls;
    t.txTotal = static_cast<std::int64_t>(exchange.requestHead.size() + bodies_.requestBodyOf(exchange).size()) + tls / 3;
    // Many connections stay open idle after their exchange, waiting for the next one.
    if (random_.chance(40))
        t.tPlannedEnd += random_.between(1000, 15000);
}

void TunnelOpener::planFirstAndLastByte(Tunnel& t, Style style, std::int64_t from)
{
    switch (style) {
    case Style::Api: t.tFirstByte = from + random_.between(20, 400); t.tPlannedEnd = t.tFirstByte + random_.between(10, 1500); break;
    case Style::Page: t.tFirstByte = from + random_.between(30, 600); t.tPlannedEnd = t.tFirstByte + random_.between(50, 4000); break;
    case Style::Image: t.tFirstByte = from + random_.between(10, 200); t.tPlannedEnd = t.tFirstByte + random_.between(10, 800); break;
    case Style::Stream: t.tFirstByte = from + random_.between(50, 300); t.tPlannedEnd = t.tFirstByte + random_.between(20000, 600000); break;
    case Style::Download:
        t.tFirstByte = from + random_.between(50, 500);
        t.tPlannedEnd = t.tFirstByte + random_.between(5000, 120000);
        t.rxTotal = random_.between(2, 40) << 20; // bytes per second at full speed
        break;
    case Style::Mail: t.tFirstByte = from + random_.between(100, 500); t.tPlannedEnd = t.tFirstByte + random_.between(30000, 900000); break;
    case Style::Push: t.tFirstByte = from + random_.between(50, 200); t.tPlannedEnd = t.tFirstByte + random_.between(60000, 1800000); break;
    case Style::Socks: t.tFirstByte = from + random_.between(50, 300); t.tPlannedEnd = t.tFirstByte + random_.between(5000, 300000); break;
    }
}

// A refused tunnel ends at once; long-lived ones may time out, and very few fall to a memory warning.
void TunnelOpener::planEnding(Tunnel& t, const Opening& opening)
{
    const Style style = opening.site.style;
    if (opening.refused) {
        t.tFirstByte = t.tTransferEnd = t.tPlannedEnd = t.tRule + random_.between(0, 2);
        t.rxTotal = t.txTotal = 0;
        t.plannedReason = CloseReason::reject;
    } else if ((style == Style::Mail || style == Style::Push || style == Style::Socks) && random_.chance(30)) {
        t.plannedReason = CloseReason::timeout;
    } else if (random_.chance(1) && random_.chance(20)) {
        t.plannedReason = CloseReason::memoryWarning;
    }
}

} // namespace vd::sim
