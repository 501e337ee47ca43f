#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vd::har {

// Writes one JSON text to a stream as it goes, so a document far larger than memory (a log of
// thousands of bodies) never exists in one piece. Commas are placed by the writer; the caller
// only opens and closes containers and names members.
class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }
    // The name of the next member of the open object.
    void key(std::string_view name);

    // Bytes that are not UTF-8 become U+FFFD: header values may carry anything, and the text
    // must stay valid JSON.
    void string(std::string_view bytes);
    // The bytes in standard Base64, as a string.
    void base64(std::span<const std::uint8_t> bytes);
    void number(std::int64_t value);
    // At most three decimals, without trailing zeros.
    void number(double value);
    void boolean(bool value);
    // A line break before the next value (after its comma) or closing bracket, for people
    // reading the file.
    void lineBreak() { lineBreak_ = true; }

    template <typename Value>
    void member(std::string_view name, const Value& value)
    {
        key(name);
        write(value);
    }

private:
    void open(char bracket);
    void close(char bracket);
    // Before a value: a comma after an earlier one in the same container.
    void separate();
    void breakLine();
    void write(std::string_view value) { string(value); }
    void write(const std::string& value) { string(value); }
    void write(const char* value) { string(value); }
    void write(std::int64_t value) { number(value); }
    void write(int value) { number(static_cast<std::int64_t>(value)); }
    void write(std::uint64_t value) { number(static_cast<std::int64_t>(value)); }
    void write(double value) { number(value); }
    void write(bool value) { boolean(value); }

    std::ostream& out_;
    // Per open container: whether it holds a value yet.
    std::vector<bool> filled_;
    bool afterKey_ = false;
    bool lineBreak_ = false;
};

} // namespace vd::har
