#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>
#include <simdjson.h>

namespace vd::test {

namespace detail {

inline void convertFully(simdjson::dom::element element, nlohmann::ordered_json& out)
{
    using Type = simdjson::dom::element_type;
    switch (element.type()) {
    case Type::OBJECT: {
        out = nlohmann::ordered_json::object();
        const simdjson::dom::object object = element.get_object().value_unsafe();
        for (const auto field : object)
            convertFully(field.value, out[std::string(field.key)]);
        break;
    }
    case Type::ARRAY: {
        out = nlohmann::ordered_json::array();
        const simdjson::dom::array array = element.get_array().value_unsafe();
        for (const auto item : array)
            convertFully(item, out.emplace_back());
        break;
    }
    case Type::STRING: out = std::string(element.get_string().value_unsafe()); break;
    case Type::INT64: out = element.get_int64().value_unsafe(); break;
    case Type::UINT64: out = element.get_uint64().value_unsafe(); break;
    case Type::DOUBLE: out = element.get_double().value_unsafe(); break;
    case Type::BOOL: out = element.get_bool().value_unsafe(); break;
    case Type::NULL_VALUE: out = nullptr; break;
    }
}

} // namespace detail

// What a full parse of the JSON makes of it, converted member by member: the dictionary a
// packet of that JSON must decode to, or nothing when the parse refuses the text or its top is
// no object.
inline std::optional<nlohmann::ordered_json> fullParse(std::string_view json)
{
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (parser.parse(simdjson::padded_string(json)).get(root) || !root.is_object())
        return std::nullopt;
    nlohmann::ordered_json out;
    detail::convertFully(root, out);
    return out;
}

// A dump in which the kind of every value shows: 1, 1.0 and "1" all differ.
inline std::string kindedDump(const nlohmann::ordered_json& json)
{
    return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace vd::test
