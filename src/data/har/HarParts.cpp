#include "HarParts.h"

#include <algorithm>

#include "data/PrettyBody.h"
#include "platform/Numbers.h"

namespace vd::har {
namespace {

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The parts of a "a=1; b=2" list, each trimmed.
std::vector<std::string_view> semicolonParts(std::string_view text)
{
    std::vector<std::string_view> parts;
    while (!text.empty()) {
        const std::size_t end = text.find(';');
        parts.push_back(trimmed(text.substr(0, end)));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return parts;
}

std::string_view beforeEquals(std::string_view part)
{
    return trimmed(part.substr(0, part.find('=')));
}

std::string_view afterEquals(std::string_view part)
{
    const std::size_t equals = part.find('=');
    return equals == std::string_view::npos ? std::string_view() : trimmed(part.substr(equals + 1));
}

} // namespace

StatusLine statusLineOf(std::string_view responseHead)
{
    std::string_view line = responseHead.substr(0, responseHead.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    StatusLine status;
    const std::size_t first = line.find(' ');
    status.version = line.substr(0, first);
    if (first == std::string_view::npos)
        return status;
    line.remove_prefix(first + 1);
    const std::size_t second = line.find(' ');
    status.code = numbers::leadingInteger(line.substr(0, second));
    if (second != std::string_view::npos)
        status.reason = line.substr(second + 1);
    return status;
}

std::vector<std::string_view> fieldValues(const std::vector<HeaderField>& fields, std::string_view name)
{
    std::vector<std::string_view> values;
    for (const auto& field : fields) {
        if (equalsIgnoringCase(field.name, name))
            values.push_back(field.value);
    }
    return values;
}

std::vector<NameValue> queryPairs(std::string_view url)
{
    const std::size_t question = url.find('?');
    if (question == std::string_view::npos)
        return {};
    std::string_view query = url.substr(question + 1);
    query = query.substr(0, query.find('#'));
    return formFields(query);
}

std::vector<NameValue> requestCookies(const std::vector<HeaderField>& fields)
{
    std::vector<NameValue> cookies;
    for (const std::string_view field : fieldValues(fields, "Cookie")) {
        for (const std::string_view part : semicolonParts(field)) {
            if (!part.empty())
                cookies.push_back({std::string(beforeEquals(part)), std::string(afterEquals(part))});
        }
    }
    return cookies;
}

std::vector<SetCookie> responseCookies(const std::vector<HeaderField>& fields)
{
    std::vector<SetCookie> cookies;
    for (const std::string_view field : fieldValues(fields, "Set-Cookie")) {
        const auto parts = semicolonParts(field);
        if (parts.empty() || parts.front().empty())
            continue;
        SetCookie cookie;
        cookie.name = beforeEquals(parts.front());
        cookie.value = afterEquals(parts.front());
        for (std::size_t i = 1; i < parts.size(); ++i) {
            const std::string_view attribute = beforeEquals(parts[i]);
            if (equalsIgnoringCase(attribute, "Path"))
                cookie.path = std::string(afterEquals(parts[i]));
            else if (equalsIgnoringCase(attribute, "Domain"))
                cookie.domain = std::string(afterEquals(parts[i]));
            else if (equalsIgnoringCase(attribute, "HttpOnly"))
                cookie.httpOnly = true;
            else if (equalsIgnoringCase(attribute, "Secure"))
                cookie.secure = true;
        }
        cookies.push_back(std::move(cookie));
    }
    return cookies;
}

} // namespace vd::har
