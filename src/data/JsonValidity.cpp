#include "JsonValidity.h"

#include <simdjson.h>

#include "link/JsonValues.h"

namespace vd {
namespace {

namespace od = simdjson::ondemand;

static_assert(kJsonPadding >= simdjson::SIMDJSON_PADDING);

std::string_view trimmed(std::string_view text)
{
    constexpr std::string_view kSpace = " \t\r\n";
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kSpace) + 1 - first);
}

// Visits every value, so the on-demand parser checks all of the text; numbers are only seen
// as tokens. Nesting is bounded by the parser's depth limit.
template <typename Value>
simdjson::error_code visit(Value& value)
{
    od::json_type type;
    if (const auto error = value.type().get(type))
        return error;
    switch (type) {
    case od::json_type::object: {
        od::object object;
        if (const auto error = value.get_object().get(object))
            return error;
        for (auto member : object) {
            od::field field;
            std::string_view key;
            if (const auto error = std::move(member).get(field))
                return error;
            if (const auto error = field.unescaped_key().get(key))
                return error;
            if (const auto error = visit(field.value()))
                return error;
        }
        return simdjson::SUCCESS;
    }
    case od::json_type::array: {
        od::array array;
        if (const auto error = value.get_array().get(array))
            return error;
        for (auto element : array) {
            od::value inner;
            if (const auto error = std::move(element).get(inner))
                return error;
            if (const auto error = visit(inner))
                return error;
        }
        return simdjson::SUCCESS;
    }
    case od::json_type::string: {
        std::string_view text;
        return value.get_string().get(text);
    }
    case od::json_type::boolean: {
        bool flag = false;
        return value.get_bool().get(flag);
    }
    case od::json_type::null: {
        bool isNull = false;
        if (const auto error = value.is_null().get(isNull))
            return error;
        return isNull ? simdjson::SUCCESS : simdjson::N_ATOM_ERROR;
    }
    case od::json_type::number:
        return json::isNumberToken(trimmed(value.raw_json_token())) ? simdjson::SUCCESS : simdjson::NUMBER_ERROR;
    }
    return simdjson::INCORRECT_TYPE;
}

std::string problemLine(simdjson::error_code error)
{
    return std::string("Not valid JSON: ") + simdjson::error_message(error);
}

} // namespace

std::string jsonProblemOf(std::string_view json)
{
    // The DOM parser picks the fastest kernel at run time and checks everything in one pass.
    simdjson::dom::parser dom;
    const auto domError = dom.parse(json.data(), json.size(), false).error();
    if (domError != simdjson::NUMBER_ERROR)
        return domError ? problemLine(domError) : std::string();

    // A number it cannot convert may still be valid JSON: walk the text again on demand, with
    // numbers judged as tokens.
    const simdjson::padded_string_view padded(json.data(), json.size(), json.size() + kJsonPadding);
    od::parser parser;
    od::document document;
    od::json_type rootType;
    if (const auto error = parser.iterate(padded).get(document))
        return problemLine(error);
    if (const auto error = document.type().get(rootType))
        return problemLine(error);
    // A number alone is the whole text; the token of a number at the root would not say so.
    if (rootType == od::json_type::number)
        return json::isNumberToken(trimmed(json)) ? std::string() : problemLine(simdjson::NUMBER_ERROR);
    if (const auto error = visit(document))
        return problemLine(error);
    // Only the end of the text may follow the root container.
    if (document.current_location().error() != simdjson::OUT_OF_BOUNDS)
        return problemLine(simdjson::TRAILING_CONTENT);
    return {};
}

} // namespace vd
