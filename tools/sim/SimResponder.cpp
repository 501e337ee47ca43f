#include "SimResponder.h"

#include <chrono>

#include "link/JsonValues.h"

namespace vd::sim {
namespace {

using Dictionary = QNComPacket::Dictionary;

QNComPacket answer(const QNComPacket& request, Dictionary data)
{
    QNComPacket reply = QNComPacket::initWithId(request.id_());
    reply.setCmd(request.cmd());
    reply.setData(std::move(data));
    return reply;
}

bool switchValue(const QNComPacket& request)
{
    const auto* data = request.data();
    const auto* value = data ? json::member(*data, "switch") : nullptr;
    return value && value->is_boolean() && value->get<bool>();
}

std::int64_t intValue(const QNComPacket& request, const char* key)
{
    const auto* data = request.data();
    return data ? json::toInt64(json::member(*data, key)) : 0;
}

} // namespace

SimResponder::SimResponder()
{
    using namespace std::chrono;
    startTime_ = duration_cast<duration<double>>(system_clock::now().time_since_epoch()).count();
}

QNComPacket SimResponder::serviceInfo() const
{
    QNComPacket info = QNComPacket::initWithId(0);
    info.setCmd(1);
    info.setData(Dictionary::object({{"service_start_time", startTime_},
                                     {"mitm_enable", mitmEnabled_},
                                     {"record_traffic", recordTraffic_},
                                     {"local_address", Dictionary::array()}}));
    return info;
}

std::optional<QNComPacket> SimResponder::reply(const QNComPacket& request)
{
    switch (request.cmd()) {
    case 1: {
        QNComPacket info = serviceInfo();
        info.setId_(request.id_());
        return info;
    }
    case 2: return answer(request, Dictionary::object());
    case 4: return answer(request, Dictionary::object({{"mode", intValue(request, "mode")}}));
    case 7:
    case 8: return answer(request, Dictionary::object({{"tunnels", Dictionary::array()}}));
    case 9: return answer(request, Dictionary::object({{"processes", Dictionary::array()}}));
    case 10:
        recordTraffic_ = switchValue(request);
        return answer(request, Dictionary::object({{"c", recordTraffic_}}));
    case 11:
        mitmEnabled_ = switchValue(request);
        return answer(request, Dictionary::object({{"c", mitmEnabled_}}));
    case 12: return answer(request, Dictionary::object());
    case 13:
        return answer(request, Dictionary::object({{"host_file", Dictionary::array()},
                                                    {"host_config", Dictionary::array()},
                                                    {"record", Dictionary::array()}}));
    case 14:
        pushTunnels_ = switchValue(request);
        return answer(request, Dictionary::object({{"switch", pushTunnels_}}));
    case 15:
        pushDNS_ = switchValue(request);
        return answer(request, Dictionary::object({{"switch", pushDNS_}}));
    case 16: return answer(request, Dictionary::object());
    case 17: {
        const auto* data = request.data();
        const auto* domain = data ? json::member(*data, "domain") : nullptr;
        return answer(request, Dictionary::object({{"domain", domain ? *domain : Dictionary()}}));
    }
    case 18: return answer(request, Dictionary::object({{"tunnel_id", intValue(request, "tunnel_id")}}));
    case 19: return answer(request, Dictionary::object({{"icon", Dictionary::object()}}));
    case 20:
    case 21: return answer(request, Dictionary::object({{"tunnel_id", intValue(request, "tunnel_id")}, {"data", ""}}));
    case 22:
        pushUDP_ = switchValue(request);
        return answer(request, Dictionary::object({{"switch", pushUDP_}}));
    default: {
        QNComPacket unknown = QNComPacket::initWithId(request.id_());
        unknown.setCmd(request.cmd());
        unknown.setCode(0);
        unknown.setMessage("Unknown command");
        return unknown;
    }
    }
}

} // namespace vd::sim
