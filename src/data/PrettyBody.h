#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vd {

// The readable forms of a body. Pure functions, safe on any thread.

enum class PrettyKind { none, json, form, xml, html };

// From the media type of a Content-Type value (application/json, text/json and any "+json";
// application/x-www-form-urlencoded; text/xml, application/xml and any "+xml"; text/html), and
// when the type decides nothing, from the body's first bytes.
PrettyKind prettyKindOf(std::string_view contentType, std::span<const std::uint8_t> body);

struct PrettyText {
    std::string text;
    // Non-empty when the body could not be shown this way: one line saying why.
    std::string problem;
};

// The JSON's own tokens, re-indented by two spaces a level with one member or element a line
// and "key": value; numbers, escapes and key order stay exactly as received, and empty {} and
// [] stay on one line. Every token sits whole on one line (a JSON string holds no raw line
// break), so a line can be coloured by itself.
PrettyText prettyJson(std::string_view json);

// The key/value pairs of a form body in order, percent-decoded with '+' as a space; an escape
// that is not two hex digits is kept as written.
std::vector<std::pair<std::string, std::string>> formFields(std::string_view body);

PrettyText prettyXml(std::string_view xml);

// Tolerant of real-world HTML, which is not XML: void elements (<br>, <meta>), unquoted
// attributes, unclosed elements and named entities pass, and the raw text of <script> and
// <style> is kept as written.
PrettyText prettyHtml(std::string_view html);

} // namespace vd
