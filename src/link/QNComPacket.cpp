#include "QNComPacket.h"

#include <cmath>

#include "JsonValues.h"
#include "ReceivedPacket.h"
#include "WireEncoder.h"
#include "platform/Log.h"

namespace vd {

QNComPacket::QNComPacket() : dic_(Dictionary::object())
{
    setVersion(1);
    setCode(1);
}

QNComPacket QNComPacket::initWithId(std::int64_t id)
{
    QNComPacket packet;
    packet.setId_(id);
    packet.oriDataLength_ = -1;
    return packet;
}

std::optional<QNComPacket> QNComPacket::initWithData(std::span<const std::uint8_t> bytes)
{
    auto received = ReceivedPacket::decode(bytes);
    if (!received)
        return std::nullopt;
    return received->takePacket();
}

std::optional<Bytes> QNComPacket::toData() const
{
    if (auto wire = encodeWire(dic_, kTerminator))
        return wire;
    // The writer stops only at text that is not UTF-8; the dictionary's own writer refuses the
    // same text and names the offending byte.
    std::string reason = "invalid UTF-8";
    try {
        (void)dic_.dump(-1, ' ', false, Dictionary::error_handler_t::strict);
    } catch (const Dictionary::exception& error) {
        reason = error.what();
    }
    log::error("Communication encode fail with error: " + reason);
    return std::nullopt;
}

std::int64_t QNComPacket::id_() const { return json::toInt64(json::member(dic_, "i")); }
void QNComPacket::setId_(std::int64_t value) { dic_["i"] = value; }

float QNComPacket::version() const { return static_cast<float>(json::toDouble(json::member(dic_, "v"))); }

void QNComPacket::setVersion(float value)
{
    // A whole version goes out as a plain integer ("v":1), the way the service writes it.
    if (std::trunc(value) == value && std::fabs(value) < 1e9f)
        dic_["v"] = static_cast<std::int64_t>(value);
    else
        dic_["v"] = static_cast<double>(value);
}

std::int64_t QNComPacket::code() const { return json::toInt64(json::member(dic_, "c")); }
void QNComPacket::setCode(std::int64_t value) { dic_["c"] = value; }

std::uint64_t QNComPacket::cmd() const { return json::toUInt64(json::member(dic_, "t")); }
void QNComPacket::setCmd(std::uint64_t value) { dic_["t"] = value; }

std::optional<std::string> QNComPacket::message() const
{
    const auto* value = json::member(dic_, "m");
    if (!value || !value->is_string())
        return std::nullopt;
    return value->get<std::string>();
}

void QNComPacket::setMessage(const std::optional<std::string>& value) { dic_["m"] = value.value_or(std::string()); }

const QNComPacket::Dictionary* QNComPacket::data() const
{
    const auto* value = json::member(dic_, "d");
    return value && value->is_object() ? value : nullptr;
}

QNComPacket::Dictionary* QNComPacket::data()
{
    const auto it = dic_.find("d");
    return it != dic_.end() && it->is_object() ? &*it : nullptr;
}

void QNComPacket::setData(std::optional<Dictionary> value)
{
    if (value)
        dic_["d"] = std::move(*value);
    else
        dic_.erase("d");
}

} // namespace vd
