#include "TransferProgress.h"

#include <algorithm>

#include "TrafficModel.h"

namespace vd::sim {
namespace {

struct Counts {
    std::int64_t rx;
    std::int64_t tx;
};

int revealedStages(const Tunnel& t, std::int64_t now)
{
    return (t.tServerReady <= now) + (t.tDns <= now) + (t.tRule <= now) + (t.tProxy && t.tProxy <= now);
}

// The response comes in along a smooth curve, the request having gone out in full.
Counts finiteProgress(const Tunnel& t, std::int64_t now)
{
    const double span = static_cast<double>(std::max<std::int64_t>(1, t.tTransferEnd - t.tFirstByte));
    const double p = std::min(1.0, static_cast<double>(now - t.tFirstByte) / span);
    return {static_cast<std::int64_t>(static_cast<double>(t.rxTotal) * p * p * (3 - 2 * p)), t.txTotal};
}

// Full speed after three seconds of ramp, give or take 15%; a few acknowledgements go out.
Counts downloadProgress(const Tunnel& t, std::int64_t now, TrafficGenerator& random)
{
    Counts c{t.rx, t.tx};
    const double ramp = std::min(1.0, static_cast<double>(now - t.tFirstByte) / 3000.0);
    c.rx += static_cast<std::int64_t>(static_cast<double>(t.rxTotal) / 4 * ramp * static_cast<double>(random.between(85, 115)) / 100);
    c.tx += random.between(0, 400);
    return c;
}

// The response head and a first burst, then events now and then.
Counts streamProgress(const Tunnel& t, TrafficGenerator& random)
{
    Counts c{t.rx, t.tx};
    if (t.rx == 0)
        c.rx += static_cast<std::int64_t>(t.exchange->responseHead.size()) + random.between(3000, 7000);
    if (random.chance(40))
        c.rx += random.between(200, 5000);
    if (random.chance(10))
        c.tx += random.between(60, 400);
    return c;
}

struct Burst {
    unsigned percent;
    std::int64_t rxLow, rxHigh, txLow, txHigh;
};

// Mostly idle, with a burst in either direction at the given odds per step.
Counts occasionalBurst(const Tunnel& t, TrafficGenerator& random, const Burst& burst)
{
    Counts c{t.rx, t.tx};
    if (random.chance(burst.percent)) {
        c.rx += random.between(burst.rxLow, burst.rxHigh);
        c.tx += random.between(burst.txLow, burst.txHigh);
    }
    return c;
}

Counts transferring(const Tunnel& t, std::int64_t now, TrafficGenerator& random)
{
    switch (t.style) {
    case Style::Api:
    case Style::Page:
    case Style::Image: return finiteProgress(t, now);
    case Style::Download: return downloadProgress(t, now, random);
    case Style::Stream: return streamProgress(t, random);
    case Style::Mail: return occasionalBurst(t, random, {5, 1000, 50000, 100, 2000});
    case Style::Push: return occasionalBurst(t, random, {3, 100, 800, 50, 200});
    case Style::Socks: return occasionalBurst(t, random, {25, 1000, 200000, 100, 20000});
    }
    return {t.rx, t.tx};
}

Counts countsAt(const Tunnel& t, std::int64_t now, TrafficGenerator& random)
{
    if (now >= t.tFirstByte && t.tProxy)
        return transferring(t, now, random);
    // The request, or a protocol greeting, goes out once the proxy is ready.
    if (t.tProxy && now >= t.tProxy && t.tx == 0)
        return {t.rx, t.txTotal ? t.txTotal / 2 : random.between(200, 600)};
    return {t.rx, t.tx};
}

bool receivedCapturedBody(const Tunnel& t)
{
    return t.rx > 0 && t.exchange->captured && t.exchange->responseBody != BodyKind::None;
}

} // namespace

void advance(Tunnel& t, std::int64_t now, TrafficGenerator& random, ByteTotals& totals)
{
    const int revealed = revealedStages(t, now);
    bool changed = revealed != t.revealed;
    t.revealed = revealed;

    const Counts c = t.idle ? Counts{t.rx, t.tx} : countsAt(t, now, random);
    const std::int64_t rxSpeed = (c.rx - t.rx) * 1000 / TrafficModel::kStepMs;
    const std::int64_t txSpeed = (c.tx - t.tx) * 1000 / TrafficModel::kStepMs;
    changed = changed || c.rx != t.rx || c.tx != t.tx || rxSpeed != t.rxSpeed || txSpeed != t.txSpeed;
    totals.rx += c.rx - t.rx;
    totals.tx += c.tx - t.tx;
    t.rx = c.rx;
    t.tx = c.tx;
    t.rxSpeed = rxSpeed;
    t.txSpeed = txSpeed;
    t.rxMax = std::max(t.rxMax, rxSpeed);
    t.txMax = std::max(t.txMax, txSpeed);
    if (!t.hasReceive && receivedCapturedBody(t)) {
        t.hasReceive = true;
        changed = true;
    }
    t.dirty = t.dirty || changed;
}

void settle(Tunnel& t, CloseReason reason, ByteTotals& totals)
{
    if (isFinite(t.style) && reason != CloseReason::manualClose && t.tProxy && !t.idle) {
        totals.rx += t.rxTotal - t.rx;
        totals.tx += t.txTotal - t.tx;
        t.rx = t.rxTotal;
        t.tx = t.txTotal;
    }
    if (!t.hasReceive && receivedCapturedBody(t))
        t.hasReceive = true;
    t.rxSpeed = t.txSpeed = 0;
}

} // namespace vd::sim
