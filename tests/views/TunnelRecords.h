#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "data/VDDataProcesser.h"
#include "data/VDTunnelInfo.h"
#include "link/QNComPacket.h"
#include "link/ServiceContract.h"
#include "support/IdsOf.h"

namespace vd::test {

// Tunnel records built from JSON texts like the service's, with only the keys a test cares
// about set apart from a plausible rest.
struct TunnelFields {
    std::int64_t id = 1;
    std::string host = "example.com";
    std::int64_t port = 443;
    std::int64_t type = 2;
    bool active = false;
    std::uint64_t closeReason = 0;
    std::string bundleId = "com.example.app";
    std::string processName = "app";
    std::int64_t processId = 100;
    std::string policyName = "DIRECT";
    std::string ruleInfo = "";
    std::int64_t tx = 0;
    std::int64_t rx = 0;
    double start = 10;
    std::string fromHost = "127.0.0.1";
    std::string processPath = "";
    // Header blocks, for records that carried HTTP; left out of the text when empty.
    std::string requestHead = "";
    std::string responseHead = "";
    std::string responseCode = "";
};

inline std::string tunnelText(const TunnelFields& fields)
{
    nlohmann::ordered_json text{{"id", fields.id},
                                  {"endId", fields.id},
                                  {"type", fields.type},
                                  {"closeReason", fields.closeReason},
                                  {"t_start", fields.start},
                                  {"t_end", fields.active ? 0.0 : fields.start + 1.5},
                                  {"host", fields.host},
                                  {"port", fields.port},
                                  {"processName", fields.processName},
                                  {"processIdentifier", fields.processId},
                                  {"bundleIdentifier", fields.bundleId},
                                  {"fromHost", fields.fromHost},
                                  {"processPath", fields.processPath},
                                  {"fromPort", 50000 + fields.id},
                                  {"policyName", fields.policyName},
                                  {"ruleInfo", fields.ruleInfo},
                                  {"tx", fields.tx},
                                  {"rx", fields.rx}};
    if (!fields.requestHead.empty())
        text["headerString"] = fields.requestHead;
    if (!fields.responseHead.empty())
        text["responseHeader"] = fields.responseHead;
    if (!fields.responseCode.empty())
        text["responseCode"] = fields.responseCode;
    return text.dump();
}

inline std::shared_ptr<const VDTunnelInfo> tunnel(const TunnelFields& fields)
{
    return VDTunnelInfo::initWithJSONString(tunnelText(fields), 1.7e9);
}

// Records with these ids and hosts named by them, the even ones active, of two clients by turns.
inline std::vector<TunnelFields> records(const std::vector<std::int64_t>& ids)
{
    std::vector<TunnelFields> out;
    for (const auto id : ids)
        out.push_back({.id = id, .host = "host" + std::to_string(id) + ".example", .active = id % 2 == 0,
                       .bundleId = "com.app" + std::to_string(id % 2)});
    return out;
}
inline TunnelList tunnels(const std::vector<std::int64_t>& ids)
{
    TunnelList list;
    for (const auto& fields : records(ids))
        list.push_back(tunnel(fields));
    return list;
}

// A packet of the service as the processor receives it.
inline QNComPacket servicePacket(contract::Command cmd, QNComPacket::Dictionary data)
{
    QNComPacket packet;
    packet.setCmd(contract::numberOf(cmd));
    packet.setData(std::move(data));
    return packet;
}

// A report of the current or the recent tunnels.
inline QNComPacket report(contract::Command cmd, const std::vector<TunnelFields>& records)
{
    auto texts = nlohmann::ordered_json::array();
    for (const auto& fields : records)
        texts.push_back(tunnelText(fields));
    return servicePacket(cmd, QNComPacket::Dictionary{{"tunnels", texts}});
}

} // namespace vd::test
