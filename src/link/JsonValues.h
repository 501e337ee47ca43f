#pragma once

#include <cstdint>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vd::json {

// Numbers read the way the service's loosely typed values are meant: integers and reals
// convert (reals truncate toward zero, saturating), booleans are 0 or 1, a string converts
// from its leading decimal number, and anything else (or a missing value) is 0.
std::int64_t toInt64(const nlohmann::ordered_json* value);
std::uint64_t toUInt64(const nlohmann::ordered_json* value);
double toDouble(const nlohmann::ordered_json* value);

// Whether `token` is one JSON number, -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?; `integer`,
// when given, tells whether it has neither fraction nor exponent.
bool isNumberToken(std::string_view token, bool* integer = nullptr);

// The member `key` of `object`, or null when `object` is not an object or has no such member.
const nlohmann::ordered_json* member(const nlohmann::ordered_json& object, const char* key);

} // namespace vd::json
