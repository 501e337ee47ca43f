#include <algorithm>
#include <cctype>

#include "PrettyBody.h"

namespace vd {
namespace {

// How far into a body sniffing looks for the markup that names it.
constexpr std::size_t kSniffLength = 512;

std::string loweredMediaType(std::string_view contentType)
{
    contentType = contentType.substr(0, std::min(contentType.find(';'), contentType.size()));
    std::string type;
    for (const char c : contentType) {
        if (c != ' ' && c != '\t')
            type += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return type;
}

PrettyKind kindOfMediaType(std::string_view type)
{
    if (type == "application/json" || type == "text/json" || type.ends_with("+json"))
        return PrettyKind::json;
    if (type == "application/x-www-form-urlencoded")
        return PrettyKind::form;
    if (type == "text/xml" || type == "application/xml" || type.ends_with("+xml"))
        return PrettyKind::xml;
    if (type == "text/html")
        return PrettyKind::html;
    return PrettyKind::none;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char p, char t) {
               return p == std::tolower(static_cast<unsigned char>(t));
           });
}

PrettyKind kindOfContent(std::string_view text)
{
    if (text.starts_with("\xef\xbb\xbf"))
        text.remove_prefix(3);
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return PrettyKind::none;
    text = text.substr(first, kSniffLength);
    if (text.front() == '{' || text.front() == '[')
        return PrettyKind::json;
    if (text.front() != '<')
        return PrettyKind::none;
    if (startsWithIgnoringCase(text, "<?xml"))
        return PrettyKind::xml;
    for (const std::string_view html : {"<!doctype html", "<html", "<head", "<body"}) {
        if (startsWithIgnoringCase(text, html))
            return PrettyKind::html;
    }
    return PrettyKind::xml;
}

} // namespace

PrettyKind prettyKindOf(std::string_view contentType, std::span<const std::uint8_t> body)
{
    const PrettyKind declared = kindOfMediaType(loweredMediaType(contentType));
    if (declared != PrettyKind::none)
        return declared;
    return kindOfContent(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
}

} // namespace vd
