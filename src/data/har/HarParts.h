#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/HttpHead.h"

namespace vd::har {

using NameValue = std::pair<std::string, std::string>;

// A cookie as a response sets it, with the attributes the log has room for.
struct SetCookie {
    std::string name;
    std::string value;
    std::optional<std::string> path;
    std::optional<std::string> domain;
    bool httpOnly = false;
    bool secure = false;
};

// "HTTP/1.1 404 Not Found" at the start of a response head; parts it lacks are empty, a missing
// code is 0.
struct StatusLine {
    std::string_view version;
    std::int64_t code = 0;
    std::string_view reason;
};
StatusLine statusLineOf(std::string_view responseHead);

// Every value of the fields of that name (compared without regard to case), in order.
std::vector<std::string_view> fieldValues(const std::vector<HeaderField>& fields, std::string_view name);

// The pairs of the URL's query, decoded as a form's are, in order.
std::vector<NameValue> queryPairs(std::string_view url);
// Every pair of the request's Cookie fields.
std::vector<NameValue> requestCookies(const std::vector<HeaderField>& fields);
// One entry per Set-Cookie field of a response.
std::vector<SetCookie> responseCookies(const std::vector<HeaderField>& fields);

} // namespace vd::har
