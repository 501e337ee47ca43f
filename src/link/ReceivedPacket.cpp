#include "ReceivedPacket.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <unordered_map>

#include <simdjson.h>

#include "JsonValues.h"
#include "ShortEscapes.h"
#include "platform/Base64.h"
#include "platform/Log.h"

namespace vd {
namespace {

namespace od = simdjson::ondemand;
using simdjson::error_code;
using Dictionary = QNComPacket::Dictionary;

// Objects are built by appending members; only objects with many members get a key index, so
// the common small object pays nothing and a hostile one with thousands of keys stays linear.
constexpr std::size_t kLinearKeySearchLimit = 16;
// A parser that grew for a huge packet gives its memory back instead of keeping it per thread.
constexpr std::size_t kParserCapacityToKeep = 64u << 20;

const std::string kDecodeFailure = "Communication decode fail";

void logDecodeError(error_code error)
{
    log::error(kDecodeFailure + " with error: " + simdjson::error_message(error));
}

od::parser& threadParser()
{
    thread_local auto parser = std::make_unique<od::parser>();
    if (parser->capacity() > kParserCapacityToKeep)
        parser = std::make_unique<od::parser>();
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

// The JSON this thread decoded last, zeroed room after it included.
thread_local std::string_view decodedJson;

// Whether `text` is the inside of a string of the JSON this thread decoded last: its closing
// quote and the room after the JSON follow it, so the unescaper can read it where it lies.
bool insideDecodedString(std::string_view text)
{
    const auto at = reinterpret_cast<std::uintptr_t>(text.data());
    const auto begin = reinterpret_cast<std::uintptr_t>(decodedJson.data());
    return at >= begin && at + text.size() < begin + decodedJson.size() && text.data()[text.size()] == '"';
}

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

// Containers nest no deeper than a full parse allows (its limit counts one level more than
// there are containers); the walk recurses, so this also bounds its stack.
constexpr int kMaxDepth = simdjson::DEFAULT_MAX_DEPTH;

// A value `depth` containers deep, the top object being 1.
error_code convertValue(od::value value, Dictionary& out, int depth);

// `convertMember(key, value, slot)` fills each member's slot; a repeated key converts into the
// same slot again, so the last one wins as it does in the dictionary.
template <typename ConvertMember>
error_code convertObject(od::object object, Dictionary& out, ConvertMember&& convertMember)
{
    out = Dictionary::object();
    auto& members = static_cast<Dictionary::object_t::Container&>(out.get_ref<Dictionary::object_t&>());
    std::unordered_map<std::string, std::size_t> index;
    for (auto result : object) {
        od::field field;
        std::string_view key;
        if (const auto error = std::move(result).get(field))
            return error;
        if (const auto error = field.unescaped_key().get(key))
            return error;
        Dictionary* slot = nullptr;
        if (members.size() < kLinearKeySearchLimit) {
            for (auto& member : members) {
                if (member.first == key) {
                    slot = &member.second;
                    break;
                }
            }
        } else {
            if (index.empty()) {
                for (std::size_t i = 0; i < members.size(); ++i)
                    index.emplace(members[i].first, i);
            }
            if (const auto it = index.find(std::string(key)); it != index.end())
                slot = &members[it->second].second;
        }
        if (!slot) {
            members.emplace_back(std::string(key), Dictionary());
            slot = &members.back().second;
            if (!index.empty())
                index.emplace(members.back().first, members.size() - 1);
        }
        if (const auto error = convertMember(key, field.value(), *slot))
            return error;
    }
    return simdjson::SUCCESS;
}

// Calls `convertItem(item, itemsSoFar)` for each element of the array.
template <typename ConvertItem>
error_code convertArray(od::value value, Dictionary& out, ConvertItem&& convertItem)
{
    od::array array;
    if (const auto error = value.get_array().get(array))
        return error;
    out = Dictionary::array();
    auto& items = out.get_ref<Dictionary::array_t&>();
    for (auto result : array) {
        od::value item;
        if (const auto error = std::move(result).get(item))
            return error;
        if (const auto error = convertItem(item, items))
            return error;
    }
    return simdjson::SUCCESS;
}

// For a JSON real out of the doubles' range: whether it is too large rather than too small,
// told from the power of ten of its first significant digit.
bool beyondTheDoubles(std::string_view text)
{
    const std::size_t exponentAt = text.find_first_of("eE");
    const std::string_view mantissa = text.substr(0, exponentAt);
    std::int64_t power = 0;
    const std::size_t point = mantissa.find('.');
    const std::string_view whole = mantissa.substr(0, point);
    const std::size_t firstDigit = whole.find_first_not_of("-0");
    if (firstDigit != std::string_view::npos) {
        power = static_cast<std::int64_t>(whole.size() - firstDigit) - 1;
    } else if (point != std::string_view::npos) {
        const std::size_t significant = mantissa.find_first_not_of('0', point + 1);
        power = significant == std::string_view::npos ? 0 : -static_cast<std::int64_t>(significant - point);
    }
    if (exponentAt != std::string_view::npos) {
        std::string_view exponent = text.substr(exponentAt + 1);
        const bool negative = exponent.front() == '-';
        if (exponent.front() == '+' || negative)
            exponent.remove_prefix(1);
        std::int64_t value = 0;
        // An exponent this large is far beyond anything the digits could make up for.
        constexpr std::int64_t kFarBeyond = std::int64_t{1} << 40;
        if (std::from_chars(exponent.data(), exponent.data() + exponent.size(), value).ec != std::errc() || value > kFarBeyond)
            return !negative;
        power = negative ? power - value : power + value;
    }
    return power > 0;
}

// Numbers are read from their text, as a full parse reads them: an integer as a signed 64-bit
// one, else unsigned, else refused; anything else as the nearest double, refused when it is
// beyond the doubles and zero when it is too small for them. (The walk's own number reader
// loses long numbers.)
error_code convertNumber(od::value value, Dictionary& out)
{
    std::string_view text = value.raw_json_token();
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    bool integer = false;
    if (!json::isNumberToken(text, &integer))
        return simdjson::NUMBER_ERROR;
    const char* const end = text.data() + text.size();
    if (integer) {
        std::int64_t signedValue = 0;
        if (std::from_chars(text.data(), end, signedValue).ec == std::errc()) {
            out = signedValue;
            return simdjson::SUCCESS;
        }
        std::uint64_t unsignedValue = 0;
        if (text[0] != '-' && std::from_chars(text.data(), end, unsignedValue).ec == std::errc()) {
            out = unsignedValue;
            return simdjson::SUCCESS;
        }
        return simdjson::NUMBER_ERROR;
    }
    double real = 0;
    if (std::from_chars(text.data(), end, real).ec == std::errc()) {
        out = real;
        return simdjson::SUCCESS;
    }
    if (beyondTheDoubles(text))
        return simdjson::NUMBER_ERROR;
    out = text[0] == '-' ? -0.0 : 0.0;
    return simdjson::SUCCESS;
}

error_code convertValue(od::value value, Dictionary& out, int depth)
{
    od::json_type type;
    if (const auto error = value.type().get(type))
        return error;
    switch (type) {
    case od::json_type::object: {
        od::object object;
        if (depth >= kMaxDepth)
            return simdjson::DEPTH_ERROR;
        if (const auto error = value.get_object().get(object))
            return error;
        return convertObject(object, out, [depth](std::string_view, od::value member, Dictionary& slot) {
            return convertValue(member, slot, depth + 1);
        });
    }
    case od::json_type::array:
        if (depth >= kMaxDepth)
            return simdjson::DEPTH_ERROR;
        return convertArray(value, out, [depth](od::value item, Dictionary::array_t& items) {
            return convertValue(item, items.emplace_back(), depth + 1);
        });
    case od::json_type::string: {
        std::string_view text;
        if (const auto error = value.get_string().get(text))
            return error;
        out = paddedString(text);
        return simdjson::SUCCESS;
    }
    case od::json_type::number: return convertNumber(value, out);
    case od::json_type::boolean: {
        bool flag = false;
        if (const auto error = value.get_bool().get(flag))
            return error;
        out = flag;
        return simdjson::SUCCESS;
    }
    case od::json_type::null: {
        bool null = false;
        if (const auto error = value.is_null().get(null))
            return error;
        out = nullptr;
        return null ? simdjson::SUCCESS : simdjson::N_ATOM_ERROR;
    }
    }
    return simdjson::INCORRECT_TYPE;
}

// A packet's JSON walked once: everything goes into the dictionary but the record texts, which
// are only located.
class Walk {
public:
    Walk(Dictionary& root, std::vector<std::string_view>& texts, std::vector<std::uint32_t>& places)
        : root_(root), texts_(texts), places_(places)
    {
    }

    error_code document(od::document& document)
    {
        od::object object;
        if (const auto error = document.get_object().get(object))
            return error;
        if (const auto error = convertObject(object, root_, [this](std::string_view key, od::value value, Dictionary& slot) {
                return key == "d" ? data(value, slot) : convertValue(value, slot, 2);
            }))
            return error;
        // Past the end of the object there is nothing to be: anything there is text after it.
        const char* trailing = nullptr;
        return document.current_location().get(trailing) == simdjson::OUT_OF_BOUNDS ? simdjson::SUCCESS
                                                                                    : simdjson::TRAILING_CONTENT;
    }

private:
    void forgetTexts()
    {
        texts_.clear();
        places_.clear();
    }

    error_code data(od::value value, Dictionary& slot)
    {
        // A later "d" hides an earlier one, texts and all.
        forgetTexts();
        od::json_type type;
        if (const auto error = value.type().get(type))
            return error;
        if (type != od::json_type::object)
            return convertValue(value, slot, 2);
        od::object object;
        if (const auto error = value.get_object().get(object))
            return error;
        return convertObject(object, slot, [this](std::string_view key, od::value item, Dictionary& itemSlot) {
            return key == ReceivedPacket::kTextsKey ? textArray(item, itemSlot) : convertValue(item, itemSlot, 3);
        });
    }

    error_code textArray(od::value value, Dictionary& slot)
    {
        forgetTexts();
        od::json_type type;
        if (const auto error = value.type().get(type))
            return error;
        if (type != od::json_type::array)
            return convertValue(value, slot, 3);
        return convertArray(value, slot, [this](od::value item, Dictionary::array_t& items) -> error_code {
            od::json_type itemType;
            if (const auto error = item.type().get(itemType))
                return error;
            if (itemType != od::json_type::string)
                return convertValue(item, items.emplace_back(), 4);
            // The token runs from the opening quote to the next structural character, white
            // space included; the input's checks already found where each string closes.
            const std::string_view token = item.raw_json_token();
            // Taken as read, so what follows it must be a separator: a string left unread
            // would be skipped as if it were a key, colon and all.
            if (const auto error = item.get_raw_json_string().error())
                return error;
            texts_.push_back(token.substr(1, token.find_last_of('"') - 1));
            places_.push_back(static_cast<std::uint32_t>(items.size()));
            items.emplace_back();
            return simdjson::SUCCESS;
        });
    }

    Dictionary& root_;
    std::vector<std::string_view>& texts_;
    std::vector<std::uint32_t>& places_;
};

// The walk stops at the first thing it cannot read; the log line tells what a full parse finds,
// as every other packet's does. Only a packet that does not decode pays for that parser.
void logWalkFailure(const std::uint8_t* json, std::size_t size, error_code walkError)
{
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (const auto error = parser.parse(json, size, false).get(root))
        return logDecodeError(error);
    // Every reader of a packet expects an object; anything else is as unreadable as bad JSON.
    if (!root.is_object())
        return log::error(kDecodeFailure);
    logDecodeError(walkError);
}

} // namespace

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
        log::error(simdjson::validate_utf8(text.data(), text.size()) ? kDecodeFailure : "Wrong COM MSG");
        return std::nullopt;
    }
    std::memset(json + *jsonSize, 0, simdjson::SIMDJSON_PADDING);
    decodedJson = std::string_view(reinterpret_cast<const char*>(json), *jsonSize + simdjson::SIMDJSON_PADDING);

    ReceivedPacket received;
    Walk walk(received.withoutTexts_.dic_, received.texts_, received.places_);
    od::document document;
    auto error = threadParser().iterate(json, *jsonSize, *jsonSize + simdjson::SIMDJSON_PADDING).get(document);
    if (!error)
        error = walk.document(document);
    if (error) {
        logWalkFailure(json, *jsonSize, error);
        return std::nullopt;
    }
    received.withoutTexts_.oriDataLength_ = static_cast<std::int64_t>(bytes.size());
    return received;
}

std::optional<QNComPacket> ReceivedPacket::takePacket()
{
    QNComPacket packet = std::move(withoutTexts_);
    if (texts_.empty())
        return packet;
    // The texts' array is the one the walk left them out of: the last "tunnels" of the last "d".
    auto& items = packet.data()->at(kTextsKey).get_ref<Dictionary::array_t&>();
    for (std::size_t i = 0; i < texts_.size(); ++i) {
        // Unescaped with room after it, as a long string of the dictionary keeps it.
        std::string text;
        if (!unescapeText(texts_[i], text))
            return std::nullopt;
        items[places_[i]] = std::move(text);
    }
    return packet;
}

bool ReceivedPacket::unescapeText(std::string_view escaped, std::string& out)
{
    // Unescaping never lengthens a text. The room after it lets the record parser read it where
    // it lies, and the full unescaper writes whole blocks past its end.
    if (out.size() < escaped.size() + simdjson::SIMDJSON_PADDING)
        out.resize(escaped.size() + simdjson::SIMDJSON_PADDING);
    if (const auto size = json::unescapeShortEscapes(escaped, out.data())) {
        out.resize(*size);
        return true;
    }
    // The unescaper stops at the closing quote and reads whole blocks past it. A packet's text
    // has both where it lies; any other gets a copy that has them.
    const char* start = escaped.data();
    if (!insideDecodedString(escaped)) {
        // A backslash of its own at the end would take the added quote with it, and the
        // unescaper would run on past the copy.
        const std::size_t lastOther = escaped.find_last_not_of('\\');
        const std::size_t trailing = escaped.size() - (lastOther == std::string_view::npos ? 0 : lastOther + 1);
        if (trailing % 2) {
            logDecodeError(simdjson::STRING_ERROR);
            return false;
        }
        thread_local std::string quoted;
        quoted.reserve(escaped.size() + 1 + simdjson::SIMDJSON_PADDING);
        quoted.assign(escaped).push_back('"');
        start = quoted.data();
    }
    od::parser& parser = threadParser();
    if (parser.capacity() == 0 && parser.allocate(simdjson::SIMDJSON_PADDING)) {
        logDecodeError(simdjson::MEMALLOC);
        return false;
    }
    auto* end = reinterpret_cast<std::uint8_t*>(out.data());
    std::string_view text;
    if (const auto error = parser.unescape(od::raw_json_string(reinterpret_cast<const std::uint8_t*>(start)), end).get(text)) {
        logDecodeError(error);
        return false;
    }
    out.resize(text.size());
    return true;
}

std::string ReceivedPacket::escapeText(std::string_view text)
{
    const std::string quoted = Dictionary(text).dump(-1, ' ', false, Dictionary::error_handler_t::replace);
    return quoted.substr(1, quoted.size() - 2);
}

} // namespace vd
