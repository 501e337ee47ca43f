#include "JsonValues.h"

#include "platform/Numbers.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace vd::json {

double toDouble(const nlohmann::ordered_json* value)
{
    if (!value)
        return 0;
    switch (value->type()) {
    case nlohmann::ordered_json::value_t::number_integer: return static_cast<double>(value->get<std::int64_t>());
    case nlohmann::ordered_json::value_t::number_unsigned: return static_cast<double>(value->get<std::uint64_t>());
    case nlohmann::ordered_json::value_t::number_float: return value->get<double>();
    case nlohmann::ordered_json::value_t::boolean: return value->get<bool>() ? 1 : 0;
    case nlohmann::ordered_json::value_t::string: return numbers::leadingDouble(value->get_ref<const std::string&>());
    default: return 0;
    }
}

std::int64_t toInt64(const nlohmann::ordered_json* value)
{
    if (!value)
        return 0;
    switch (value->type()) {
    case nlohmann::ordered_json::value_t::number_integer: return value->get<std::int64_t>();
    case nlohmann::ordered_json::value_t::number_unsigned: return static_cast<std::int64_t>(value->get<std::uint64_t>());
    case nlohmann::ordered_json::value_t::string: return numbers::leadingInteger(value->get_ref<const std::string&>());
    default: return numbers::saturatingCast<std::int64_t>(toDouble(value));
    }
}

std::uint64_t toUInt64(const nlohmann::ordered_json* value)
{
    if (!value)
        return 0;
    switch (value->type()) {
    case nlohmann::ordered_json::value_t::number_integer: return static_cast<std::uint64_t>(value->get<std::int64_t>());
    case nlohmann::ordered_json::value_t::number_unsigned: return value->get<std::uint64_t>();
    case nlohmann::ordered_json::value_t::string: return static_cast<std::uint64_t>(numbers::leadingInteger(value->get_ref<const std::string&>()));
    default: return numbers::saturatingCast<std::uint64_t>(toDouble(value));
    }
}

const nlohmann::ordered_json* member(const nlohmann::ordered_json& object, const char* key)
{
    if (!object.is_object())
        return nullptr;
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

bool isNumberToken(std::string_view token, bool* integer)
{
    std::size_t at = 0;
    const auto digits = [&] {
        const std::size_t first = at;
        while (at < token.size() && token[at] >= '0' && token[at] <= '9')
            ++at;
        return at > first;
    };
    if (at < token.size() && token[at] == '-')
        ++at;
    if (at < token.size() && token[at] == '0')
        ++at;
    else if (!digits())
        return false;
    bool whole = true;
    if (at < token.size() && token[at] == '.') {
        ++at;
        whole = false;
        if (!digits())
            return false;
    }
    if (at < token.size() && (token[at] == 'e' || token[at] == 'E')) {
        ++at;
        whole = false;
        if (at < token.size() && (token[at] == '+' || token[at] == '-'))
            ++at;
        if (!digits())
            return false;
    }
    if (integer)
        *integer = whole;
    return at == token.size();
}

} // namespace vd::json
