#include "ChaosAgent.h"

#include <string_view>

#include "ChaosPackets.h"
#include "ReplyPackets.h"
#include "link/JsonValues.h"

namespace vd::sim {
namespace {

using Dictionary = QNComPacket::Dictionary;
using Kind = WritePace::Kind;
using contract::Command;
using contract::numberOf;

constexpr std::size_t kEndlessChunk = 1 << 20;
// UDP ids of a flood start far above the service's own and differ between connections.
constexpr std::int64_t kFloodIdBase = 1'000'000'000;
constexpr std::int64_t kFloodIdsPerConnection = 10'000'000;

Bytes concatenated(const Bytes& packet, std::size_t times)
{
    Bytes all;
    all.reserve(packet.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        all.insert(all.end(), packet.begin(), packet.end());
    return all;
}

bool isStored(const Dictionary& packet)
{
    const auto* t = json::member(packet, "t");
    return t && t->is_number_unsigned() && carriesStoredContent(Command{t->get<std::uint64_t>()});
}

Command bodyCommand(bool request)
{
    return request ? Command::tunnelRequestData : Command::tunnelResponseData;
}

Bytes cutOf(const Bytes& wire, ChaosPlan& plan, Dictionary& detail, WritePace& pace)
{
    pace = {Kind::cut, 1 + plan.below(wire.size() - 1)};
    detail["at"] = pace.count;
    detail["of"] = wire.size();
    return wire;
}

} // namespace

ChaosAgent::ChaosAgent(std::uint64_t seed, int connection, TrafficModel& model, SimResponder& responder)
    : acts_(seed, connection, ChaosPlan::Stream::acts), answers_(seed, connection, ChaosPlan::Stream::answers),
      model_(model), responder_(responder), nextFloodId_(kFloodIdBase + kFloodIdsPerConnection * connection)
{
}

bool ChaosAgent::disturbLogin(const Bytes& greeting, ChaosLink& link)
{
    if (!acts_.disturbsLogin())
        return false;
    const ChaosAct act = acts_.loginAct();
    ChaosPlan plan = acts_.fork();
    Dictionary detail = Dictionary::object({{"before_login", true}});
    // A link that never sees the greeting waits for it: every act but the drip ends it.
    switch (act) {
    case ChaosAct::drip: {
        const WritePace pace{Kind::drip, 5 + plan.below(20)};
        detail["bytes"] = pace.count;
        link.writeChaos(greeting, pace);
        break;
    }
    case ChaosAct::endless:
        detail["chunk"] = kEndlessChunk;
        link.writeChaos(Bytes(kEndlessChunk, 'A'), {Kind::endless, 0});
        break;
    case ChaosAct::garbageBase64: {
        auto wire = chaos::garbagePacket(plan, detail);
        const auto size = wire.size();
        link.writeChaos(std::move(wire), {Kind::cut, size});
        break;
    }
    case ChaosAct::notHttp: {
        static constexpr std::string_view kAnswer = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
        link.writeChaos(Bytes(kAnswer.begin(), kAnswer.end()), {Kind::cut, kAnswer.size()});
        break;
    }
    default: {
        WritePace pace;
        auto wire = cutOf(greeting, plan, detail, pace);
        link.writeChaos(std::move(wire), pace);
        break;
    }
    }
    link.logChaos({{"chaos", nameOf(act)}, {"detail", std::move(detail)}});
    return true;
}

std::chrono::milliseconds ChaosAgent::act(ChaosLink& link)
{
    const ChaosAct act = acts_.nextAct();
    ChaosPlan plan = acts_.fork();
    const auto pause = acts_.pause();
    Dictionary detail = Dictionary::object();
    perform(act, plan, detail, link);
    link.logChaos({{"chaos", nameOf(act)}, {"detail", std::move(detail)}});
    return pause;
}

void ChaosAgent::perform(ChaosAct act, ChaosPlan& plan, Dictionary& detail, ChaosLink& link)
{
    switch (act) {
    case ChaosAct::cut: {
        WritePace pace;
        auto wire = chaos::wireOf(templatePacket(plan, detail));
        wire = cutOf(wire, plan, detail, pace);
        return link.writeChaos(std::move(wire), pace);
    }
    case ChaosAct::garbageBase64:
        switch (plan.below(3)) {
        case 0: return link.writeChaos(chaos::garbagePacket(plan, detail), {});
        case 1: {
            const Command cmd = bodyCommand(plan.percent(50));
            Dictionary packet = chaos::envelope(
                cmd, Dictionary::object({{"tunnel_id", someTunnelId(plan)}, {"data", chaos::garbageBase64(plan, detail)}}));
            detail["cmd"] = numberOf(cmd);
            return sendStored(packet, link);
        }
        default: {
            Dictionary packet =
                chaos::envelope(Command::icon, Dictionary::object({{"icon", Dictionary::object({{"com.chaos.garbage", chaos::garbageBase64(plan, detail)}})}}));
            detail["cmd"] = numberOf(Command::icon);
            return sendStored(packet, link);
        }
        }
    case ChaosAct::wrongTypes: {
        Dictionary packet = chaos::withWrongType(templatePacket(plan, detail), plan, detail);
        return isStored(packet) ? sendStored(packet, link) : link.writeChaos(chaos::wireOf(packet), {});
    }
    case ChaosAct::hugeSize: {
        const Command cmd = bodyCommand(plan.percent(50));
        detail["cmd"] = numberOf(cmd);
        return sendStored(bodyPacket(0, cmd, someTunnelId(plan), chaos::hugeSizeMessage(plan, detail)), link);
    }
    case ChaosAct::endless:
        detail["chunk"] = kEndlessChunk;
        return link.writeChaos(Bytes(kEndlessChunk, 'A'), {Kind::endless, 0});
    case ChaosAct::drip: {
        const Dictionary packet = templatePacket(plan, detail);
        const WritePace pace{Kind::drip, 5 + plan.below(25)};
        detail["bytes"] = pace.count;
        return isStored(packet) ? sendStored(packet, link, pace) : link.writeChaos(chaos::wireOf(packet), pace);
    }
    case ChaosAct::duplicateRecent: {
        const auto texts = recentTexts(static_cast<std::int64_t>(5 + plan.below(40)));
        return link.writeChaos(chaos::wireOf(chaos::envelope(Command::historyTunnels, {{"tunnels", chaos::shuffledWithDuplicates(texts, plan, detail)}})), {});
    }
    case ChaosAct::unsafeIcon: return sendStored(iconPacket(0, chaos::unsafeBundleId(plan, detail)), link);
    case ChaosAct::notHttp: {
        const Command cmd = bodyCommand(plan.percent(50));
        detail["cmd"] = numberOf(cmd);
        return sendStored(bodyPacket(0, cmd, someTunnelId(plan), chaos::notHttpMessage(plan, detail)), link);
    }
    case ChaosAct::flood: {
        const std::size_t count = 500 + plan.below(4500);
        detail["pushes"] = count;
        switch (plan.below(3)) {
        case 0: {
            detail["cmd"] = numberOf(Command::udpRecordPush);
            Bytes all;
            for (std::size_t i = 0; i < count; ++i) {
                const auto one = SimResponder::udpPush(chaos::udpText(nextFloodId_++));
                all.insert(all.end(), one.begin(), one.end());
            }
            return link.writeChaos(std::move(all), {});
        }
        case 1: detail["cmd"] = numberOf(Command::currentTunnelsPush); return link.writeChaos(concatenated(responder_.tunnelPush(), count / 10), {});
        default: detail["cmd"] = numberOf(Command::dnsRecordsPush); return link.writeChaos(concatenated(responder_.dnsPush(), count / 10), {});
        }
    }
    }
}

void ChaosAgent::answer(const QNComPacket& request, std::vector<Bytes>& replies, ChaosLink& link)
{
    const Command cmd{request.cmd()};
    if (!carriesStoredContent(cmd) || replies.size() != 1 || !answers_.spoilsAnswer())
        return;
    ChaosPlan plan = answers_.fork();
    Dictionary detail = Dictionary::object();
    const auto* data = request.data();
    ChaosAct act = ChaosAct::unsafeIcon;
    Dictionary packet;
    if (cmd == Command::icon) {
        packet = iconPacket(request.id_(), chaos::unsafeBundleId(plan, detail));
    } else {
        const auto* tunnel = data ? json::member(*data, "tunnel_id") : nullptr;
        const std::int64_t id = tunnel && tunnel->is_number_integer() ? tunnel->get<std::int64_t>() : 0;
        switch (plan.below(4)) {
        case 0: act = ChaosAct::hugeSize; packet = bodyPacket(request.id_(), cmd, id, chaos::hugeSizeMessage(plan, detail)); break;
        case 1: act = ChaosAct::notHttp; packet = bodyPacket(request.id_(), cmd, id, chaos::notHttpMessage(plan, detail)); break;
        case 2:
            act = ChaosAct::garbageBase64;
            packet = chaos::envelope(cmd, {{"tunnel_id", id}, {"data", chaos::garbageBase64(plan, detail)}}, request.id_());
            break;
        default:
            act = ChaosAct::wrongTypes;
            packet = chaos::withWrongType(bodyPacket(request.id_(), cmd, id, model_.capturedMessage(id, cmd == Command::tunnelRequestData).value_or("")), plan, detail);
            break;
        }
    }
    replies.front() = chaos::wireOf(packet);
    link.logChaos({{"chaos", nameOf(act)}, {"reply_to", request.id_()}, {"detail", std::move(detail)}});
}

void ChaosAgent::sendStored(const Dictionary& packet, ChaosLink& link, WritePace pace) const
{
    link.writeChaos(chaos::wireOf(packet), pace);
    link.logChaos({{"sent", packet}});
}

Dictionary ChaosAgent::bodyPacket(std::int64_t id, Command cmd, std::int64_t tunnel, const std::string& message) const
{
    return chaos::envelope(cmd, {{"tunnel_id", tunnel}, {"data", base64Of(message)}}, id);
}

Dictionary ChaosAgent::iconPacket(std::int64_t id, const std::string& bundleId) const
{
    // Any real icon will do as the image: the bundle id is the point.
    static constexpr std::string_view kImage = "\x89PNG\r\n\x1a\n not an image";
    return chaos::envelope(Command::icon, {{"icon", Dictionary::object({{bundleId, base64Of(kImage)}})}}, id);
}

Dictionary ChaosAgent::templatePacket(ChaosPlan& plan, Dictionary& detail)
{
    Dictionary packet;
    switch (plan.below(8)) {
    case 0: packet = responder_.serviceInfo().dic(); break;
    case 1: packet = chaos::envelope(Command::currentTunnelsPush, {{"tunnels", Dictionary::parse("[" + model_.activeTexts() + "]")}}); break;
    case 2: packet = chaos::envelope(Command::historyTunnels, {{"tunnels", recentTexts(10)}}); break;
    case 3: packet = chaos::envelope(Command::dnsRecordsPush, model_.dnsTable()); break;
    case 4: packet = chaos::envelope(Command::udpRecordPush, {{"tunnel_info", chaos::udpText(nextFloodId_++)}}); break;
    case 5: packet = chaos::envelope(plan.percent(50) ? Command::trafficRecord : Command::mitmEnable, {{"c", true}}); break;
    case 6: packet = iconPacket(0, "com.chaos.template"); break;
    default: {
        const auto tunnel = someTunnelId(plan);
        const bool request = plan.percent(50);
        packet = bodyPacket(0, bodyCommand(request), tunnel, model_.capturedMessage(tunnel, request).value_or(""));
        break;
    }
    }
    detail["cmd"] = packet.value("t", 0);
    return packet;
}

QNComPacket::Dictionary ChaosAgent::recentTexts(std::int64_t count) const
{
    TrafficModel::RecentRange range;
    range.lastCount = count;
    return Dictionary::parse("[" + model_.recentTexts(range) + "]");
}

std::int64_t ChaosAgent::someTunnelId(ChaosPlan& plan) const
{
    const auto texts = recentTexts(10);
    if (texts.empty())
        return static_cast<std::int64_t>(plan.below(100));
    const auto record = Dictionary::parse(texts[plan.below(texts.size())].get<std::string>(), nullptr, false);
    const auto* id = record.is_object() ? json::member(record, "id") : nullptr;
    return id && id->is_number_integer() ? id->get<std::int64_t>() : 0;
}

} // namespace vd::sim
