#include "RecordOutput.h"

#include "data/VDUtils.h"

namespace vd::ctl {
namespace {

using Align = Table::Align;

std::string sizeText(std::int64_t bytes)
{
    const auto [number, unit] = VDUtils::transformedValue(bytes, false);
    return number + unit;
}

std::string speedText(std::int64_t bytesPerSecond)
{
    const auto [number, unit] = VDUtils::transformedValue(bytesPerSecond, true);
    return number + unit + "/s";
}

std::string codeText(std::int64_t code)
{
    return code < 0 ? "-" : std::to_string(code);
}

std::string text(std::string_view view)
{
    return std::string(view);
}

} // namespace

Table tunnelTable(bool finished)
{
    if (finished) {
        return Table({{"ID", Align::Right}, {"START"}, {"PROCESS"}, {"METHOD"}, {"SERVER"}, {"STATUS"},
                      {"CODE", Align::Right}, {"UP", Align::Right}, {"DOWN", Align::Right},
                      {"DURATION", Align::Right}, {"POLICY"}});
    }
    return Table({{"ID", Align::Right}, {"START"}, {"PROCESS"}, {"METHOD"}, {"SERVER"}, {"CODE", Align::Right},
                  {"UP", Align::Right}, {"DOWN", Align::Right}, {"UP/S", Align::Right}, {"DOWN/S", Align::Right},
                  {"DURATION", Align::Right}, {"POLICY"}});
}

std::vector<std::string> tunnelRow(const VDTunnelInfo& tunnel, bool finished)
{
    std::vector<std::string> row{std::to_string(tunnel.id_()), VDUtils::formatTunnelStartTime(tunnel.startTime()),
                                 tunnel.processTitle(), tunnel.method(), tunnel.serverString()};
    if (finished)
        row.push_back(tunnel.statusString());
    row.push_back(codeText(tunnel.code()));
    row.push_back(sizeText(tunnel.tx()));
    row.push_back(sizeText(tunnel.rx()));
    if (!finished) {
        row.push_back(speedText(tunnel.tx_speed()));
        row.push_back(speedText(tunnel.rx_speed()));
    }
    row.push_back(VDUtils::formatDuration(tunnel.duration()));
    row.push_back(text(tunnel.policyName()));
    return row;
}

JsonObject tunnelJson(const VDTunnelInfo& tunnel)
{
    JsonObject object{
        {"id", tunnel.id_()},
        {"status", tunnel.statusString()},
        {"method", tunnel.method()},
        {"host", text(tunnel.host())},
        {"port", tunnel.port()},
        {"code", tunnel.code() < 0 ? JsonObject() : JsonObject(tunnel.code())},
        {"process", text(tunnel.processName())},
        {"pid", tunnel.processId()},
        {"bundle_id", text(tunnel.bundleIdentifier())},
        {"from_host", text(tunnel.fromHost())},
        {"from_port", tunnel.fromPort()},
        {"policy", text(tunnel.policyName())},
        {"rule", text(tunnel.ruleInfo())},
        {"outbound_mode", text(tunnel.outboundMode())},
        {"tx", tunnel.tx()},
        {"rx", tunnel.rx()},
        {"tx_speed", tunnel.tx_speed()},
        {"rx_speed", tunnel.rx_speed()},
        {"start", tunnel.startTime()},
        {"duration", tunnel.duration()},
        {"has_request_body", tunnel.hasSend()},
        {"has_response_body", tunnel.hasReceive()},
    };
    if (tunnel.status() != TunnelStatus::active)
        object["close_reason"] = tunnel.closeReasonString();
    return object;
}

Table udpTable()
{
    return Table({{"ID", Align::Right}, {"TIME"}, {"STATUS"}, {"FROM"}, {"SERVER"}, {"POLICY"}});
}

std::vector<std::size_t> udpColumnWidths()
{
    return {6, 5, 7, 21, 30, 0};
}

std::vector<std::string> udpRow(const VDUDPTunnelInfo& record)
{
    return {std::to_string(record.id_()), VDUtils::formatTunnelStartTime(record.startTime()), record.statusString(),
            record.fromString(), record.serverString(), text(record.policyName())};
}

JsonObject udpJson(const VDUDPTunnelInfo& record)
{
    return {
        {"id", record.id_()},
        {"status", record.statusString()},
        {"direction", record.direction()},
        {"from_host", text(record.fromHost())},
        {"from_port", record.fromPort()},
        {"host", text(record.host())},
        {"port", record.port()},
        {"policy", text(record.policyName())},
        {"rule", text(record.ruleInfo())},
        {"outbound_mode", text(record.outboundMode())},
        {"time", record.startTime()},
    };
}

Table dnsTable()
{
    return Table({{"TYPE"}, {"DOMAIN"}, {"ADDRESSES"}, {"SERVER"}, {"TTL", Align::Right}, {"COMMENT"}});
}

std::vector<std::string> dnsRow(const VDDNSInfo& entry)
{
    return {entry.typeString(), entry.domain, entry.ipsString(), entry.dns, VDUtils::formatTTL(entry.ttl), entry.comment};
}

JsonObject dnsJson(const VDDNSInfo& entry)
{
    return {
        {"type", entry.typeString()},
        {"domain", entry.domain},
        {"ips", entry.ips},
        {"server", entry.dns},
        {"ttl", entry.ttl < 0 ? JsonObject() : JsonObject(entry.ttl)},
        {"comment", entry.comment},
    };
}

void printJsonLine(std::ostream& out, const JsonObject& object)
{
    out << object.dump(-1, ' ', false, JsonObject::error_handler_t::replace) << '\n';
}

} // namespace vd::ctl
