#include "ReplyPackets.h"

#include "JsonText.h"
#include "platform/Base64.h"

namespace vd::sim {

Bytes wire(const QNComPacket& packet)
{
    auto bytes = packet.toData();
    return bytes ? std::move(*bytes) : Bytes();
}

Bytes answer(std::int64_t id, contract::Command cmd, QNComPacket::Dictionary data)
{
    QNComPacket reply = QNComPacket::initWithId(id);
    reply.setCmd(contract::numberOf(cmd));
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

// Written without a JSON tree: at ten thousand tunnels a report is tens of megabytes, and the
// texts are already escaped.
Bytes tunnelReport(std::int64_t id, contract::Command cmd, const std::string& texts)
{
    std::string json = "{\"v\":1,\"c\":1,\"i\":" + std::to_string(id) + ",\"t\":" + std::to_string(contract::numberOf(cmd)) +
                       ",\"d\":{\"tunnels\":[";
    json.reserve(json.size() + texts.size() + 4);
    json += texts;
    json += "]}}";
    return wireFromJson(json);
}

std::string base64Of(std::string_view bytes)
{
    return base64::encode({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

} // namespace vd::sim
