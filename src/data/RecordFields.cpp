#include "RecordFields.h"

#include "VDUtils.h"
#include "platform/Numbers.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace vd::record {
namespace {

using simdjson::dom::element_type;

// The DOM parser picks the fastest kernel of the machine at run time; one per thread, reused.
struct ThreadState {
    simdjson::dom::parser parser;
    std::string padded;
};

ThreadState& threadState()
{
    thread_local ThreadState state;
    return state;
}

simdjson::simdjson_result<simdjson::dom::element> parsePadded(ThreadState& state, std::string_view text)
{
    state.padded.assign(text);
    state.padded.append(simdjson::SIMDJSON_PADDING, '\0');
    return state.parser.parse(state.padded.data(), text.size(), false);
}

} // namespace

double toDouble(simdjson::dom::element value)
{
    switch (value.type()) {
    case element_type::INT64: return static_cast<double>(value.get_int64().value_unsafe());
    case element_type::UINT64: return static_cast<double>(value.get_uint64().value_unsafe());
    case element_type::DOUBLE: return value.get_double().value_unsafe();
    case element_type::BOOL: return value.get_bool().value_unsafe() ? 1 : 0;
    case element_type::STRING: return numbers::leadingDouble(value.get_string().value_unsafe());
    default: return 0;
    }
}

std::int64_t toInt(simdjson::dom::element value)
{
    switch (value.type()) {
    case element_type::INT64: return value.get_int64().value_unsafe();
    case element_type::UINT64: return static_cast<std::int64_t>(value.get_uint64().value_unsafe());
    case element_type::STRING: return numbers::leadingInteger(value.get_string().value_unsafe());
    default: return numbers::saturatingCast<std::int64_t>(toDouble(value));
    }
}

std::uint64_t toUInt(simdjson::dom::element value)
{
    switch (value.type()) {
    case element_type::UINT64: return value.get_uint64().value_unsafe();
    case element_type::DOUBLE: return numbers::saturatingCast<std::uint64_t>(value.get_double().value_unsafe());
    default: return static_cast<std::uint64_t>(toInt(value));
    }
}

bool toBool(simdjson::dom::element value)
{
    switch (value.type()) {
    case element_type::BOOL: return value.get_bool().value_unsafe();
    case element_type::STRING: {
        // A text counts as true the way the service's own runtime reads one: "true", "yes" or
        // a non-zero number.
        const std::string_view text = value.get_string().value_unsafe();
        const auto first = text.find_first_not_of(" \t\r\n+-0");
        return first != std::string_view::npos && std::string_view("YyTt123456789").find(text[first]) != std::string_view::npos;
    }
    default: return toDouble(value) != 0;
    }
}

std::string hostPortText(std::string_view host, std::int64_t port)
{
    return VDUtils::ipFormat(host) + ":" + std::to_string(port);
}

std::string serverText(std::string_view host, std::int64_t port)
{
    return host.empty() ? std::string("--") : hostPortText(host, port);
}

namespace detail {

simdjson::simdjson_result<simdjson::dom::object> parse(std::string_view text)
{
    return parsePadded(threadState(), text).get_object();
}

simdjson::simdjson_result<simdjson::dom::object> parse(const std::string& text)
{
    if (text.capacity() - text.size() < simdjson::SIMDJSON_PADDING)
        return parse(std::string_view(text));
    return threadState().parser.parse(text.data(), text.size(), false).get_object();
}

void readValue(const FieldEntry& entry, simdjson::dom::element value, const Targets& targets, std::string& shortStrings)
{
    switch (entry.kind) {
    case Kind::Int: targets.ints[entry.slot] = toInt(value); break;
    case Kind::UInt: targets.uints[entry.slot] = toUInt(value); break;
    case Kind::Double: targets.doubles[entry.slot] = toDouble(value); break;
    case Kind::Bool: targets.flags[entry.slot] = toBool(value); break;
    case Kind::Text: {
        Slice& slice = targets.texts[entry.slot];
        std::string_view string;
        // A value of another kind counts as absent.
        if (value.get_string().get(string)) {
            slice = {};
            break;
        }
        slice = {static_cast<std::uint32_t>(shortStrings.size()), static_cast<std::uint32_t>(string.size())};
        shortStrings.append(string);
        break;
    }
    case Kind::Derived: break;
    }
}

} // namespace detail

std::vector<std::string> readStrings(std::string_view text, std::span<const std::string_view> keys)
{
    std::vector<std::string> values(keys.size());
    auto& state = threadState();
    simdjson::dom::object object;
    if (parsePadded(state, text).get_object().get(object))
        return values;
    for (const auto field : object) {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (field.key != keys[i])
                continue;
            std::string_view string;
            values[i] = field.value.get_string().get(string) ? std::string() : std::string(string);
        }
    }
    return values;
}

} // namespace vd::record
