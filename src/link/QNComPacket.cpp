#include "QNComPacket.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>

#include <simdjson.h>

#include "JsonValues.h"
#include "WireEncoder.h"
#include "platform/Base64.h"
#include "platform/Log.h"

namespace vd {
namespace {

using Dictionary = QNComPacket::Dictionary;

// Objects are built by appending members; only objects with many members get a key index, so
// the common small object pays nothing and a hostile one with thousands of keys stays linear.
constexpr std::size_t kLinearKeySearchLimit = 16;
// A parser that grew for a huge packet gives its memory back instead of keeping it per thread.
constexpr std::size_t kParserCapacityToKeep = 64u << 20;

void convert(simdjson::dom::element element, Dictionary& out);

// Long strings are most often record texts, themselves JSON: zeroed room after the end lets the
// record parser read them where they are rather than from a padded copy.
std::string paddedString(std::string_view text)
{
    constexpr std::size_t kRecordSizedText = 256;
    std::string out;
    if (text.size() >= kRecordSizedText) {
        out.reserve(text.size() + simdjson::SIMDJSON_PADDING);
        out.append(text);
        out.append(simdjson::SIMDJSON_PADDING, '\0');
        out.resize(text.size());
    } else {
        out.assign(text);
    }
    return out;
}

// `convertMember(value, slot)` fills each member's slot; a repeated key converts into the same
// slot again.
template <typename ConvertMember>
void convertObject(simdjson::dom::object object, Dictionary& out, ConvertMember&& convertMember)
{
    out = Dictionary::object();
    auto& members = static_cast<Dictionary::object_t::Container&>(out.get_ref<Dictionary::object_t&>());
    members.reserve(object.size());
    std::unordered_map<std::string_view, std::size_t> index;
    for (const auto field : object) {
        Dictionary* slot = nullptr;
        if (members.size() < kLinearKeySearchLimit) {
            for (auto& member : members) {
                if (member.first == field.key) {
                    slot = &member.second; // a repeated key: the last one wins
                    break;
                }
            }
        } else {
            if (index.empty()) {
                for (std::size_t i = 0; i < members.size(); ++i)
                    index.emplace(members[i].first, i);
            }
            if (const auto it = index.find(field.key); it != index.end())
                slot = &members[it->second].second;
        }
        if (!slot) {
            members.emplace_back(std::string(field.key), Dictionary());
            slot = &members.back().second;
            if (!index.empty())
                index.emplace(members.back().first, members.size() - 1);
        }
        convertMember(field.key, field.value, *slot);
    }
}

void convertObject(simdjson::dom::object object, Dictionary& out)
{
    convertObject(object, out, [](std::string_view, simdjson::dom::element value, Dictionary& slot) { convert(value, slot); });
}

// An array whose strings a reader takes from the received packet itself: each keeps its place,
// as a null, so the dictionary still tells how many elements there were and of what kind.
void convertLeavingStrings(simdjson::dom::element element, Dictionary& out)
{
    if (!element.is_array())
        return convert(element, out);
    out = Dictionary::array();
    auto& items = out.get_ref<Dictionary::array_t&>();
    const auto array = element.get_array().value_unsafe();
    items.reserve(array.size());
    for (const auto item : array) {
        if (item.is_string())
            items.emplace_back();
        else
            convert(item, items.emplace_back());
    }
}

void convert(simdjson::dom::element element, Dictionary& out)
{
    using Type = simdjson::dom::element_type;
    switch (element.type()) {
    case Type::OBJECT: convertObject(element.get_object().value_unsafe(), out); break;
    case Type::ARRAY: {
        out = Dictionary::array();
        auto& items = out.get_ref<Dictionary::array_t&>();
        const auto array = element.get_array().value_unsafe();
        items.reserve(array.size());
        for (const auto item : array)
            convert(item, items.emplace_back());
        break;
    }
    case Type::STRING: out = paddedString(element.get_string().value_unsafe()); break;
    case Type::INT64: out = element.get_int64().value_unsafe(); break;
    case Type::UINT64: out = element.get_uint64().value_unsafe(); break;
    case Type::DOUBLE: out = element.get_double().value_unsafe(); break;
    case Type::BOOL: out = element.get_bool().value_unsafe(); break;
    case Type::NULL_VALUE: out = nullptr; break;
    }
}

simdjson::dom::parser& threadParser()
{
    thread_local auto parser = std::make_unique<simdjson::dom::parser>();
    if (parser->capacity() > kParserCapacityToKeep)
        parser = std::make_unique<simdjson::dom::parser>();
    return *parser;
}

// Where a packet's JSON is decoded to. Kept per thread like the parser, so a steady stream of
// large reports does not map and fault in fresh memory for every one.
std::uint8_t* threadDecodeBuffer(std::size_t size)
{
    thread_local std::unique_ptr<std::uint8_t[]> buffer;
    thread_local std::size_t capacity = 0;
    if (size > capacity || capacity > kParserCapacityToKeep) {
        buffer.reset(new std::uint8_t[size]);
        capacity = size;
    }
    return buffer.get();
}

} // namespace

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
    const auto received = ReceivedPacket::decode(bytes);
    if (!received)
        return std::nullopt;
    return received->packet();
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

// --- received packets ------------------------------------------------------------------------

std::optional<ReceivedPacket> ReceivedPacket::decode(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < sizeof QNComPacket::kTerminator) {
        log::error("Wrong COM MSG");
        return std::nullopt;
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size() - sizeof QNComPacket::kTerminator);

    // simdjson reads a little past the end of its input, so the decoded JSON gets that slack.
    const std::size_t bound = base64::decodedSizeBound(text.size());
    std::uint8_t* const json = threadDecodeBuffer(bound + simdjson::SIMDJSON_PADDING);
    const auto jsonSize = base64::decodeStrict(text, json);
    if (!jsonSize) {
        // Base64 text is ASCII, so text that is not even UTF-8 fails the decoder too; telling
        // the two apart only on failure keeps the common path to one pass.
        log::error(simdjson::validate_utf8(text.data(), text.size()) ? "Communication decode fail" : "Wrong COM MSG");
        return std::nullopt;
    }
    std::memset(json + *jsonSize, 0, simdjson::SIMDJSON_PADDING);

    simdjson::dom::element root;
    if (const auto error = threadParser().parse(json, *jsonSize, false).get(root)) {
        log::error(std::string("Communication decode fail with error: ") + simdjson::error_message(error));
        return std::nullopt;
    }
    // Every reader of a packet expects an object; anything else is as unreadable as bad JSON.
    if (!root.is_object()) {
        log::error("Communication decode fail");
        return std::nullopt;
    }
    return ReceivedPacket(root.get_object().value_unsafe(), static_cast<std::int64_t>(bytes.size()));
}

QNComPacket ReceivedPacket::packet() const
{
    QNComPacket packet;
    convertObject(root_, packet.dic_);
    packet.oriDataLength_ = length_;
    return packet;
}

QNComPacket ReceivedPacket::packetWithoutStrings(std::string_view key) const
{
    QNComPacket packet;
    convertObject(root_, packet.dic_, [key](std::string_view name, simdjson::dom::element value, Dictionary& slot) {
        if (name != "d" || !value.is_object())
            return convert(value, slot);
        const auto data = value.get_object().value_unsafe();
        convertObject(data, slot, [key](std::string_view inner, simdjson::dom::element item, Dictionary& itemSlot) {
            if (inner == key)
                convertLeavingStrings(item, itemSlot);
            else
                convert(item, itemSlot);
        });
    });
    packet.oriDataLength_ = length_;
    return packet;
}

QNComPacket::Dictionary ReceivedPacket::member(std::string_view key) const
{
    Dictionary value;
    for (const auto field : root_) {
        if (field.key == key)
            convert(field.value, value);
    }
    return value;
}

bool ReceivedPacket::stringsArray(std::string_view key, simdjson::dom::array& array) const
{
    // The last of a repeated key, as the dictionary keeps it; a "d" that is not an object has
    // no members at all, and a later "d" of another kind hides an earlier object.
    std::optional<simdjson::dom::element> data;
    for (const auto field : root_) {
        if (field.key == "d")
            data = field.value;
    }
    if (!data || !data->is_object())
        return false;
    const simdjson::dom::object members = data->get_object().value_unsafe();
    std::optional<simdjson::dom::element> found;
    for (const auto field : members) {
        if (field.key == key)
            found = field.value;
    }
    return found && !found->get_array().get(array);
}

} // namespace vd
