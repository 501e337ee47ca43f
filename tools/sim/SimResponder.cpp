#include "SimResponder.h"

#include <variant>

#include "RecentRangeRequest.h"
#include "ReplyPackets.h"
#include "RequestFields.h"
#include "link/JsonValues.h"

namespace vd::sim {
namespace {

using Dictionary = QNComPacket::Dictionary;
using contract::Command;
using contract::numberOf;

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
    const Answer to{id, cmd};
    switch (cmd) {
    case Command::info: {
        QNComPacket info = serviceInfo();
        info.setId_(id);
        return to.with(wire(info));
    }
    case Command::configuration:
        return to.ok({{"mode", mode_}, {"mitm_enable", model_.mitm()}, {"record_traffic", model_.recording()}});
    case Command::outboundMode: return changeMode(to, data);
    case Command::currentTunnels: return to.with(tunnelReport(id, cmd, model_.activeTexts()));
    case Command::historyTunnels: return recentRecords(to, data);
    case Command::recentProcesses: return to.ok({{"processes", model_.processes()}});
    case Command::trafficRecord:
    case Command::mitmEnable: return switchCapture(to, data);
    case Command::trafficInfo: return to.ok(model_.trafficInfo());
    case Command::dnsRecords: return to.ok(model_.dnsTable());
    case Command::autoPushTunnel:
    case Command::autoPushDNS:
    case Command::autoPushUDP: return switchPush(to, data, client);
    case Command::purgeDNSRecords: {
        const auto count = model_.purgeDns();
        return to.ok({{"count", count}}, count > 0);
    }
    case Command::removeDNSRecord: return removeDns(to, data);
    case Command::closeTunnel: return closeTunnel(to, data);
    case Command::icon: return icon(to, data);
    case Command::tunnelRequestData:
    case Command::tunnelResponseData: return capturedBody(to, data);
    default: return to.refuse("Unknown command"); // unreachable: the caller lets only known commands in
    }
}

SimResponder::Outcome SimResponder::Answer::with(Bytes reply, bool dnsChanged) const
{
    Outcome outcome;
    outcome.replies.push_back(std::move(reply));
    outcome.dnsChanged = dnsChanged;
    return outcome;
}

SimResponder::Outcome SimResponder::Answer::ok(Dictionary body, bool dnsChanged) const
{
    return with(answer(id, cmd, std::move(body)), dnsChanged);
}

SimResponder::Outcome SimResponder::Answer::refuse(const std::string& message) const
{
    return with(refusal(id, numberOf(cmd), message));
}

SimResponder::Outcome SimResponder::Answer::malformed(const std::string& what) const
{
    Outcome outcome = with(refusal(id, numberOf(cmd), "Malformed data: " + what));
    outcome.protocolError = "command " + std::to_string(numberOf(cmd)) + ": " + what;
    return outcome;
}

SimResponder::Outcome SimResponder::changeMode(const Answer& to, const Dictionary* data)
{
    const auto mode = integerMember(data, "mode");
    if (!mode)
        return to.malformed("\"mode\" must be an integer");
    mode_ = *mode;
    return to.ok({{"mode", mode_}});
}

SimResponder::Outcome SimResponder::recentRecords(const Answer& to, const Dictionary* data)
{
    const auto range = recentRangeOf(data);
    if (const auto* error = std::get_if<std::string>(&range))
        return to.malformed(*error);
    return to.with(tunnelReport(to.id, to.cmd, model_.recentTexts(std::get<TrafficModel::RecentRange>(range))));
}

SimResponder::Outcome SimResponder::switchCapture(const Answer& to, const Dictionary* data)
{
    const auto on = switchMember(data);
    if (!on)
        return to.malformed("\"switch\" must be true or false");
    if (to.cmd == Command::trafficRecord)
        model_.setRecording(*on);
    else
        model_.setMitm(*on);
    return to.ok({{"c", *on}});
}

SimResponder::Outcome SimResponder::switchPush(const Answer& to, const Dictionary* data, ClientState& client)
{
    const auto on = switchMember(data);
    if (!on)
        return to.malformed("\"switch\" must be true or false");
    (to.cmd == Command::autoPushTunnel ? client.pushTunnels : to.cmd == Command::autoPushDNS ? client.pushDNS : client.pushUDP) =
        *on;
    return to.ok({{"switch", *on}});
}

SimResponder::Outcome SimResponder::removeDns(const Answer& to, const Dictionary* data)
{
    const auto* domain = stringMember(data, "domain");
    if (!domain)
        return to.malformed("\"domain\" must be a text");
    if (!model_.removeDns(*domain))
        return to.refuse("No cached record for " + *domain);
    return to.ok({{"domain", *domain}}, true);
}

SimResponder::Outcome SimResponder::closeTunnel(const Answer& to, const Dictionary* data)
{
    const auto tunnel = integerMember(data, "tunnel_id");
    if (!tunnel)
        return to.malformed("\"tunnel_id\" must be an integer");
    if (!model_.closeTunnel(*tunnel))
        return to.refuse("No active tunnel " + std::to_string(*tunnel));
    return to.ok({{"tunnel_id", *tunnel}});
}

SimResponder::Outcome SimResponder::icon(const Answer& to, const Dictionary* data)
{
    const auto* bundle = stringMember(data, "bundleId");
    if (!bundle || bundle->empty())
        return to.malformed("\"bundleId\" must be a non-empty text");
    Dictionary icons = Dictionary::object();
    if (const auto png = model_.icon(*bundle))
        icons[*bundle] = base64Of(*png);
    return to.ok({{"icon", std::move(icons)}});
}

SimResponder::Outcome SimResponder::capturedBody(const Answer& to, const Dictionary* data)
{
    const auto tunnel = integerMember(data, "tunnel_id");
    if (!tunnel)
        return to.malformed("\"tunnel_id\" must be an integer");
    const auto message = model_.capturedMessage(*tunnel, to.cmd == Command::tunnelRequestData);
    if (!message)
        return to.refuse("No tunnel " + std::to_string(*tunnel));
    return to.ok({{"tunnel_id", *tunnel}, {"data", base64Of(*message)}});
}

} // namespace vd::sim
