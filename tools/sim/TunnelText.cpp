#include <algorithm>

#include "JsonText.h"
#include "Tunnel.h"
#include "link/ServiceContract.h"

namespace vd::sim {
namespace {

void writeDynamic(std::string& out, const Tunnel& t, std::int64_t now, std::int64_t endId, CloseReason reason,
                  std::int64_t tClose, std::int64_t tEnd)
{
    // A stage not reached yet shows 0: the client sees the time line fill in.
    const auto shown = [&](std::int64_t stamp) { return stamp && stamp <= std::max(now, tEnd) ? stamp : 0; };
    NestedObjectWriter w(out, false);
    w.integer("endId", endId);
    w.integer("closeReason", static_cast<std::int64_t>(contract::numberOf(reason)));
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

} // namespace

std::string tunnelText(const Tunnel& t, std::int64_t now, std::int64_t endId, CloseReason reason, std::int64_t tClose,
                       std::int64_t tEnd)
{
    std::string out;
    out.reserve(t.staticPart.size() + 420);
    out += "\"{";
    writeDynamic(out, t, now, endId, reason, tClose, tEnd);
    out += t.staticPart;
    out += "}\"";
    return out;
}

} // namespace vd::sim
