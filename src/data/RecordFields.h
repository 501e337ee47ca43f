#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <simdjson.h>

#include "RecordSlice.h"

// Reading the service's record texts: one pass over the object, each key looked up in a small
// table built at compile time, values converted the loose way the service's numbers need.
namespace vd::record {

// Text is kept unescaped in the record; Derived text is not kept at all and is read again
// from the record's text when asked for (the big header blocks, rarely shown).
enum class Kind : std::uint8_t { Int, UInt, Double, Bool, Text, Derived };

// A record key, what it holds, and where its value goes in the record's arrays of that kind.
struct FieldEntry {
    std::string_view key;
    Kind kind;
    std::uint8_t slot;
};

// Open addressing over a power-of-two table; filled at compile time.
template <std::size_t N>
class FieldTable {
public:
    static constexpr std::size_t kSize = 256;
    static_assert(N * 2 < kSize);

    constexpr explicit FieldTable(const std::array<FieldEntry, N>& entries) : entries_(entries)
    {
        for (auto& slot : slots_)
            slot = kEmpty;
        for (std::size_t i = 0; i < N; ++i) {
            std::size_t at = hash(entries[i].key);
            while (slots_[at] != kEmpty)
                at = (at + 1) & (kSize - 1);
            slots_[at] = static_cast<std::uint8_t>(i);
        }
    }

    constexpr const FieldEntry& entry(std::size_t index) const { return entries_[index]; }
    constexpr std::size_t indexOf(const FieldEntry& entry) const { return static_cast<std::size_t>(&entry - entries_.data()); }

    constexpr const FieldEntry* find(std::string_view key) const
    {
        for (std::size_t at = hash(key);; at = (at + 1) & (kSize - 1)) {
            if (slots_[at] == kEmpty)
                return nullptr;
            if (equal(entries_[slots_[at]].key, key))
                return &entries_[slots_[at]];
        }
    }

    // Keys are a few bytes long: an inline loop beats a call into the C library per field.
    static constexpr bool equal(std::string_view a, std::string_view b)
    {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (a[i] != b[i])
                return false;
        }
        return true;
    }

private:
    static constexpr std::uint8_t kEmpty = 0xFF;
    static constexpr std::size_t hash(std::string_view key)
    {
        if (key.empty())
            return 0;
        const auto c = [&](std::size_t i) { return static_cast<std::size_t>(static_cast<unsigned char>(key[i])); };
        return (key.size() * 31 + c(0) * 7 + c(key.size() - 1) * 13 + c(key.size() / 2)) & (kSize - 1);
    }

    std::array<FieldEntry, N> entries_;
    std::array<std::uint8_t, kSize> slots_{};
};

// The loose conversions: numbers convert, a string converts from its leading number, true is
// 1, anything else is 0.
std::int64_t toInt(simdjson::dom::element value);
std::uint64_t toUInt(simdjson::dom::element value);
double toDouble(simdjson::dom::element value);
bool toBool(simdjson::dom::element value);

// Where one record's values go: an array per kind, indexed by the slot of each field.
struct Targets {
    std::int64_t* ints = nullptr;
    std::uint64_t* uints = nullptr;
    double* doubles = nullptr;
    bool* flags = nullptr;
    Slice* texts = nullptr;
};

// "host:port" with an IPv6 host in brackets, as every address of a record is shown.
std::string hostPortText(std::string_view host, std::int64_t port);
// The same for a destination, "--" when there is no host.
std::string serverText(std::string_view host, std::int64_t port);

namespace detail {
// Parses the text with this thread's parser; the result stays valid until the thread parses
// again. A string with room for the parser to read past its end (as the packet decoder leaves
// after long strings) is parsed where it is, any other text from a padded copy.
simdjson::simdjson_result<simdjson::dom::object> parse(std::string_view text);
simdjson::simdjson_result<simdjson::dom::object> parse(const std::string& text);
void readValue(const FieldEntry& entry, simdjson::dom::element value, const Targets& targets, std::string& shortStrings);
} // namespace detail

// Reads a record text in one pass. The text fields end up unescaped, one after another, in
// `shortStrings` (one exact allocation), and their slices point there. False when the text is
// not one JSON object.
template <std::size_t N>
bool parseRecord(const std::string& text, const FieldTable<N>& table, const Targets& targets, std::string& shortStrings)
{
    if (text.size() >= Slice::kAbsent)
        return false;
    simdjson::dom::object object;
    if (detail::parse(text).get(object))
        return false;
    thread_local std::string scratch;
    scratch.clear();
    for (const auto field : object) {
        if (const FieldEntry* entry = table.find(field.key))
            detail::readValue(*entry, field.value, targets, scratch);
    }
    shortStrings = scratch;
    return true;
}

// The same, appending the text fields, unescaped, to `shortStrings`; their slices point there.
// A text with room after its end is read where it is.
template <std::size_t N>
bool readRecord(const std::string& text, const FieldTable<N>& table, const Targets& targets, std::string& shortStrings)
{
    if (text.size() >= Slice::kAbsent)
        return false;
    simdjson::dom::object object;
    if (detail::parse(text).get(object))
        return false;
    // The service writes the keys of every record in one order: the key that came after this
    // one in the last record is tried before the table. following[i] is one more than the index
    // of that key (0 for none yet), and following[N] is about the first key.
    thread_local std::array<std::uint8_t, N + 1> following{};
    std::size_t previous = N;
    for (const auto field : object) {
        const FieldEntry* entry = nullptr;
        if (const std::size_t guess = following[previous]; guess != 0 && table.equal(table.entry(guess - 1).key, field.key)) {
            entry = &table.entry(guess - 1);
        } else {
            entry = table.find(field.key);
            if (!entry)
                continue;
            following[previous] = static_cast<std::uint8_t>(table.indexOf(*entry) + 1);
        }
        previous = table.indexOf(*entry);
        detail::readValue(*entry, field.value, targets, shortStrings);
    }
    return true;
}

// The string values of `keys` in a record text (the last of a repeated key, as parseRecord
// reads it); empty for a missing key or a value that is not a string.
template <std::size_t N>
std::array<std::string, N> readStrings(std::string_view text, const std::array<std::string_view, N>& keys);
std::vector<std::string> readStrings(std::string_view text, std::span<const std::string_view> keys);

template <std::size_t N>
std::array<std::string, N> readStrings(std::string_view text, const std::array<std::string_view, N>& keys)
{
    auto values = readStrings(text, std::span<const std::string_view>(keys));
    std::array<std::string, N> out;
    for (std::size_t i = 0; i < N; ++i)
        out[i] = std::move(values[i]);
    return out;
}

} // namespace vd::record
