#include "SimResponder.h"

#include <limits>
#include <string_view>

#include "JsonText.h"
#include "link/JsonValues.h"
#include "platform/Base64.h"

namespace vd::sim {
namespace {

using Dictionary = QNComPacket::Dictionary;
using contract::Command;
using contract::numberOf;

Bytes wire(const QNComPacket& packet)
{
    auto bytes = packet.toData();
    return bytes ? std::move(*bytes) : Bytes();
}

Bytes answer(std::int64_t id, Command cmd, Dictionary data)
{
    QNComPacket reply = QNComPacket::initWithId(id);
    reply.setCmd(numberOf(cmd));
    reply.setData(std::move(data));
    return wire(reply);
}

Bytes refusal(std::optional<std::int64_t> id, std::optional<std::uint64_t> cmd, const std::string& message)
{
    QNComPacket reply = id ? QNComPacket::initWithId(*id) : QNComPacket();
    if (cmd)
        reply.setCmd(*cmd);
    reply.setCode(0);
    reply.setMessage(message);
    return wire(reply);
}

// A report of tunnel texts, written without a JSON tree: at ten thousand tunnels it is tens
// of megabytes, and the texts are already escaped.
Bytes tunnelReport(std::int64_t id, Command cmd, const std::string& texts)
{
    std::string json = "{\"v\":1,\"c\":1,\"i\":" + std::to_string(id) + ",\"t\":" + std::to_string(numberOf(cmd)) + ",\"d\":{\"tunnels\":[";
    json.reserve(json.size() + texts.size() + 4);
    json += texts;
    json += "]}}";
    return wireFromJson(json);
}

std::string base64Of(const std::string& bytes)
{
    return base64::encode({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

// Integers as the client sends them; a real number, a text or a value beyond 64 bits is not one.
std::optional<std::int64_t> integerMember(const Dictionary* data, const char* key)
{
    const auto* value = data ? json::member(*data, key) : nullptr;
    if (!value)
        return std::nullopt;
    if (value->is_number_unsigned()) {
        const auto number = value->get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return static_cast<std::int64_t>(number);
    }
    if (value->is_number_integer())
        return value->get<std::int64_t>();
    return std::nullopt;
}

const std::string* stringMember(const Dictionary* data, const char* key)
{
    const auto* value = data ? json::member(*data, key) : nullptr;
    return value && value->is_string() ? &value->get_ref<const std::string&>() : nullptr;
}

std::optional<bool> switchMember(const Dictionary* data)
{
    const auto* value = data ? json::member(*data, "switch") : nullptr;
    return value && value->is_boolean() ? std::optional(value->get<bool>()) : std::nullopt;
}

bool isClientCommand(std::uint64_t cmd)
{
    switch (Command{cmd}) {
    case Command::info:
    case Command::configuration:
    case Command::outboundMode:
    case Command::currentTunnels:
    case Command::historyTunnels:
    case Command::recentProcesses:
    case Command::trafficRecord:
    case Command::mitmEnable:
    case Command::trafficInfo:
    case Command::dnsRecords:
    case Command::autoPushTunnel:
    case Command::autoPushDNS:
    case Command::purgeDNSRecords:
    case Command::removeDNSRecord:
    case Command::closeTunnel:
    case Command::icon:
    case Command::tunnelRequestData:
    case Command::tunnelResponseData:
    case Command::autoPushUDP:
        return true;
    default: return false;
    }
}

} // namespace

bool carriesStoredContent(Command cmd)
{
    switch (cmd) {
    case Command::icon:
    case Command::tunnelRequestData:
    case Command::tunnelResponseData: return true;
    default: return false;
    }
}

SimResponder::SimResponder(TrafficModel& model, double startTime) : model_(model), startTime_(startTime) {}

QNComPacket SimResponder::serviceInfo() const
{
    QNComPacket info = QNComPacket::initWithId(0);
    info.setCmd(numberOf(Command::info));
    info.setData(Dictionary::object({{"service_start_time", startTime_},
                                     {"mitm_enable", model_.mitm()},
                                     {"record_traffic", model_.recording()},
                                     {"local_address", model_.localAddresses()},
                                     {"icon", ""}}));
    return info;
}

Bytes SimResponder::tunnelPush() { return tunnelReport(0, Command::currentTunnelsPush, model_.activeTexts()); }

Bytes SimResponder::dnsPush() const { return answer(0, Command::dnsRecordsPush, model_.dnsTable()); }

Bytes SimResponder::udpPush(const std::string& text) { return answer(0, Command::udpRecordPush, Dictionary::object({{"tunnel_info", text}})); }

SimResponder::Outcome SimResponder::reply(const QNComPacket& request, ClientState& client)
{
    const auto& dic = request.dic();
    const auto id = integerMember(&dic, "i");
    const auto* t = json::member(dic, "t");
    const std::optional<std::uint64_t> cmd =
        t && t->is_number_integer() && (t->is_number_unsigned() || t->get<std::int64_t>() >= 0) ? std::optional(t->get<std::uint64_t>())
                                                                                                  : std::nullopt;
    const auto code = integerMember(&dic, "c");

    Outcome outcome;
    if (!id) {
        outcome.protocolError = "request without an integer id";
        outcome.replies.push_back(refusal(std::nullopt, cmd, "Requests carry an integer id"));
        return outcome;
    }
    std::optional<std::string> idError;
    if (client.lastId && *id <= *client.lastId)
        idError = "id " + std::to_string(*id) + " does not follow " + std::to_string(*client.lastId);
    client.lastId = *id;
    if (code != 1) {
        outcome.protocolError = "request with code " + (json::member(dic, "c") ? json::member(dic, "c")->dump() : std::string("missing")) +
                                "; requests carry 1";
        outcome.replies.push_back(refusal(id, cmd, "Requests carry code 1"));
        return outcome;
    }
    if (!cmd || !isClientCommand(*cmd)) {
        outcome.protocolError = "unknown command " + (t ? t->dump() : std::string("(no \"t\")"));
        outcome.replies.push_back(refusal(id, cmd, "Unknown command"));
        return outcome;
    }
    if (json::member(dic, "d") && !request.data()) {
        outcome.protocolError = "command " + std::to_string(*cmd) + " with \"d\" that is not an object";
        outcome.replies.push_back(refusal(id, cmd, "Malformed data"));
        return outcome;
    }
    outcome = carryOut(*id, Command{*cmd}, request, client);
    if (idError && !outcome.protocolError)
        outcome.protocolError = idError;
    return outcome;
}

SimResponder::Outcome SimResponder::carryOut(std::int64_t id, Command cmd, const QNComPacket& request, ClientState& client)
{
    const Dictionary* data = request.data();
    Outcome outcome;
    const auto malformed = [&](const std::string& what) {
        outcome.protocolError = "command " + std::to_string(numberOf(cmd)) + ": " + what;
        outcome.replies.push_back(refusal(id, numberOf(cmd), "Malformed data: " + what));
        return outcome;
    };
    const auto ok = [&](Dictionary body) {
        outcome.replies.push_back(answer(id, cmd, std::move(body)));
        return outcome;
    };
    const auto refuse = [&](const std::string& message) {
        outcome.replies.push_back(refusal(id, numberOf(cmd), message));
        return outcome;
    };

    switch (cmd) {
    case Command::info: {
        QNComPacket info = serviceInfo();
        info.setId_(id);
        outcome.replies.push_back(wire(info));
        return outcome;
    }
    case Command::configuration: return ok({{"mode", mode_}, {"mitm_enable", model_.mitm()}, {"record_traffic", model_.recording()}});
    case Command::outboundMode: {
        const auto mode = integerMember(data, "mode");
        if (!mode)
            return malformed("\"mode\" must be an integer");
        mode_ = *mode;
        return ok({{"mode", mode_}});
    }
    case Command::currentTunnels: outcome.replies.push_back(tunnelReport(id, cmd, model_.activeTexts())); return outcome;
    case Command::historyTunnels: {
        TrafficModel::RecentRange range;
        if (data) {
            const auto* sub = stringMember(data, "cmd");
            if (!sub)
                return malformed("\"cmd\" must name a sub-command");
            const auto from = integerMember(data, "from");
            const auto to = integerMember(data, "to");
            const auto count = integerMember(data, "count");
            const std::string_view which = *sub;
            const bool needsFrom = which == "from_to" || which == "from_count" || which == "from_to_last";
            const bool needsCount = which == "last_count" || which == "from_count";
            if (!needsFrom && !needsCount)
                return malformed("unknown sub-command \"" + *sub + "\"");
            if (needsFrom && !from)
                return malformed("\"from\" must be an integer");
            if (which == "from_to" && !to)
                return malformed("\"to\" must be an integer");
            if (needsCount && (!count || *count < 0))
                return malformed("\"count\" must be an integer of at least 0");
            if (needsFrom)
                range.from = *from;
            if (which == "from_to")
                range.to = *to;
            if (which == "from_count")
                range.firstCount = count;
            if (which == "last_count")
                range.lastCount = count;
        }
        outcome.replies.push_back(tunnelReport(id, cmd, model_.recentTexts(range)));
        return outcome;
    }
    case Command::recentProcesses: return ok({{"processes", model_.processes()}});
    case Command::trafficRecord:
    case Command::mitmEnable: {
        const auto on = switchMember(data);
        if (!on)
            return malformed("\"switch\" must be true or false");
        if (cmd == Command::trafficRecord)
            model_.setRecording(*on);
        else
            model_.setMitm(*on);
        return ok({{"c", *on}});
    }
    case Command::trafficInfo: return ok(model_.trafficInfo());
    case Command::dnsRecords: return ok(model_.dnsTable());
    case Command::autoPushTunnel:
    case Command::autoPushDNS:
    case Command::autoPushUDP: {
        const auto on = switchMember(data);
        if (!on)
            return malformed("\"switch\" must be true or false");
        (cmd == Command::autoPushTunnel ? client.pushTunnels : cmd == Command::autoPushDNS ? client.pushDNS : client.pushUDP) = *on;
        return ok({{"switch", *on}});
    }
    case Command::purgeDNSRecords: {
        const auto count = model_.purgeDns();
        outcome.dnsChanged = count > 0;
        return ok({{"count", count}});
    }
    case Command::removeDNSRecord: {
        const auto* domain = stringMember(data, "domain");
        if (!domain)
            return malformed("\"domain\" must be a text");
        if (!model_.removeDns(*domain))
            return refuse("No cached record for " + *domain);
        outcome.dnsChanged = true;
        return ok({{"domain", *domain}});
    }
    case Command::closeTunnel: {
        const auto tunnel = integerMember(data, "tunnel_id");
        if (!tunnel)
            return malformed("\"tunnel_id\" must be an integer");
        if (!model_.closeTunnel(*tunnel))
            return refuse("No active tunnel " + std::to_string(*tunnel));
        return ok({{"tunnel_id", *tunnel}});
    }
    case Command::icon: {
        const auto* bundle = stringMember(data, "bundleId");
        if (!bundle || bundle->empty())
            return malformed("\"bundleId\" must be a non-empty text");
        Dictionary icons = Dictionary::object();
        if (const auto png = model_.icon(*bundle))
            icons[*bundle] = base64Of(*png);
        return ok({{"icon", std::move(icons)}});
    }
    case Command::tunnelRequestData:
    case Command::tunnelResponseData: {
        const auto tunnel = integerMember(data, "tunnel_id");
        if (!tunnel)
            return malformed("\"tunnel_id\" must be an integer");
        const auto message = model_.capturedMessage(*tunnel, cmd == Command::tunnelRequestData);
        if (!message)
            return refuse("No tunnel " + std::to_string(*tunnel));
        return ok({{"tunnel_id", *tunnel}, {"data", base64Of(*message)}});
    }
    default: return refuse("Unknown command"); // unreachable: the caller lets only known commands in
    }
}

} // namespace vd::sim
