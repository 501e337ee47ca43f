#pragma once

#include <optional>
#include <string>

namespace vd {

// A failure handed to a completion: where it came from, its number there, and a text for people.
struct Error {
    std::string domain;
    long long code = 0;
    std::string description;
};

// How an error appears inside a log line; a missing error reads "(null)".
inline std::string logText(const std::optional<Error>& error)
{
    return error ? error->description : std::string("(null)");
}

} // namespace vd
