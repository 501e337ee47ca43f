#include "HttpHead.h"

#include <algorithm>

namespace vd {
namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && (isSpace(text.back()) || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

// A field name is a token: no spaces, which also rules out start lines and section titles.
bool isFieldName(std::string_view name)
{
    return !name.empty() && std::none_of(name.begin(), name.end(), [](char c) { return isSpace(c) || c == '\r'; });
}

void appendValue(std::string& joined, std::string_view value)
{
    if (value.empty())
        return;
    if (!joined.empty())
        joined += ", ";
    joined += value;
}

} // namespace

std::vector<HeaderField> headerFields(std::string_view headerBlock)
{
    std::vector<HeaderField> fields;
    while (!headerBlock.empty()) {
        const std::size_t lineEnd = std::min(headerBlock.find('\n'), headerBlock.size());
        const std::string_view line = headerBlock.substr(0, lineEnd);
        headerBlock.remove_prefix(std::min(lineEnd + 1, headerBlock.size()));
        if (trimmed(line).empty())
            break;
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && isFieldName(line.substr(0, colon)))
            fields.push_back({line.substr(0, colon), trimmed(line.substr(colon + 1))});
    }
    return fields;
}

std::string_view headerBlockOf(std::span<const std::uint8_t> capturedMessage)
{
    const std::string_view text(reinterpret_cast<const char*>(capturedMessage.data()), capturedMessage.size());
    for (std::size_t lineStart = 0;;) {
        const std::string_view rest = text.substr(lineStart);
        if (rest.starts_with('\n') || rest.starts_with("\r\n"))
            return text.substr(0, lineStart);
        const std::size_t lineEnd = rest.find('\n');
        if (lineEnd == std::string_view::npos)
            return text;
        lineStart += lineEnd + 1;
    }
}

std::string headerValues(std::string_view headerBlock, std::string_view name)
{
    std::string joined;
    std::string value;
    bool inField = false;
    while (!headerBlock.empty()) {
        const std::size_t lineEnd = std::min(headerBlock.find('\n'), headerBlock.size());
        const std::string_view line = headerBlock.substr(0, lineEnd);
        headerBlock.remove_prefix(std::min(lineEnd + 1, headerBlock.size()));

        if (!line.empty() && isSpace(line.front())) {
            // An obsolete folded line continues the value above it, joined by one space.
            const std::string_view more = trimmed(line);
            if (inField && !more.empty())
                value.append(value.empty() ? "" : " ").append(more);
            continue;
        }
        appendValue(joined, value);
        value.clear();
        const std::size_t colon = line.find(':');
        inField = colon != std::string_view::npos && isFieldName(line.substr(0, colon))
                  && equalsIgnoringCase(line.substr(0, colon), name);
        if (inField)
            value = trimmed(line.substr(colon + 1));
    }
    appendValue(joined, value);
    return joined;
}

} // namespace vd
