#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace vd {

// Which table a name entry comes from.
enum class DNSType : std::uint64_t {
    configured = 1,
    hostsFile = 2,
    // Resolved and cached.
    dynamic = 3,
};

// An entry keeps its type as the number the views show and sort by.
constexpr bool operator==(std::uint64_t number, DNSType type)
{
    return number == static_cast<std::uint64_t>(type);
}

// One entry of the service's name table.
struct VDDNSInfo {
    // A DNSType.
    std::uint64_t type = 0;
    std::string domain;
    std::vector<std::string> ips;
    // The server that answered: "dns" when it is a non-empty text, otherwise "doh".
    std::string dns;
    std::string comment;
    // Seconds to live; only dynamic entries have one, the others -1.
    std::int64_t ttl = -1;

    static VDDNSInfo initWithDictionary(const nlohmann::ordered_json& object, std::uint64_t type);
    // None when the text is not a JSON object.
    static std::optional<VDDNSInfo> initWithJSONString(std::string_view text, std::uint64_t type);
    static std::vector<VDDNSInfo> testData();

    std::string typeString() const;
    std::string ipsString() const;
};

} // namespace vd
