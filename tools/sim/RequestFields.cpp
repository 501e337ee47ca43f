#include "RequestFields.h"

#include <limits>

#include "link/JsonValues.h"

namespace vd::sim {

std::optional<std::int64_t> integerMember(const QNComPacket::Dictionary* data, const char* key)
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

const std::string* stringMember(const QNComPacket::Dictionary* data, const char* key)
{
    const auto* value = data ? json::member(*data, key) : nullptr;
    return value && value->is_string() ? &value->get_ref<const std::string&>() : nullptr;
}

std::optional<bool> switchMember(const QNComPacket::Dictionary* data)
{
    const auto* value = data ? json::member(*data, "switch") : nullptr;
    return value && value->is_boolean() ? std::optional(value->get<bool>()) : std::nullopt;
}

} // namespace vd::sim
