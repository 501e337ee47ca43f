#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace vd {

// Which table a name entry comes from.
enum class DNSType : std::uint64_t {
    configured = 1,
    hostsFile = 2,
    // Resolved and cached.
    dynamic = 3,
};

// One entry of the service's name table.
struct VDDNSInfo {
    DNSType type{};
    std::string domain;
    std::vector<std::string> ips;
    // The server that answered: "dns" when it is a non-empty text, otherwise "doh".
    std::string dns;
    std::string comment;
    // Seconds to live; only dynamic entries have one, the others -1.
    std::int64_t ttl = -1;

    static VDDNSInfo initWithDictionary(const nlohmann::ordered_json& object, DNSType type);
    // None when the text is not a JSON object.
    static std::optional<VDDNSInfo> initWithJSONString(std::string_view text, DNSType type);
    static std::vector<VDDNSInfo> testData();

    std::string typeString() const;
    std::string ipsString() const;
};

} // namespace vd
