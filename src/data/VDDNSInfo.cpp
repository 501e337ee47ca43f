#include "VDDNSInfo.h"

#include <nlohmann/json.hpp>

#include "VDUtils.h"
#include "link/JsonValues.h"

namespace vd {
namespace {

std::string textOf(const nlohmann::ordered_json& object, const char* key)
{
    const auto* value = json::member(object, key);
    return value && value->is_string() ? value->get<std::string>() : std::string();
}

} // namespace

VDDNSInfo VDDNSInfo::initWithDictionary(const nlohmann::ordered_json& object, DNSType type)
{
    VDDNSInfo info;
    info.type = type;
    info.domain = textOf(object, "domain");
    if (const auto* ips = json::member(object, "ips"); ips && ips->is_array()) {
        for (const auto& ip : *ips) {
            if (ip.is_string())
                info.ips.push_back(ip.get<std::string>());
        }
    }
    info.dns = textOf(object, "dns");
    if (info.dns.empty())
        info.dns = textOf(object, "doh");
    info.comment = textOf(object, "comment");
    if (type == DNSType::dynamic) {
        if (const auto* ttl = json::member(object, "ttl"))
            info.ttl = json::toInt64(ttl);
    }
    return info;
}

std::optional<VDDNSInfo> VDDNSInfo::initWithJSONString(std::string_view text, DNSType type)
{
    const auto object = nlohmann::ordered_json::parse(text, nullptr, false);
    if (!object.is_object())
        return std::nullopt;
    return initWithDictionary(object, type);
}

std::vector<VDDNSInfo> VDDNSInfo::testData()
{
    using Json = nlohmann::ordered_json;
    return {
        initWithDictionary(Json{{"domain", "router.lan"}, {"ips", {"192.168.1.1"}}, {"comment", "configured"}},
                           DNSType::configured),
        initWithDictionary(Json{{"domain", "localhost"}, {"ips", {"127.0.0.1", "::1"}}}, DNSType::hostsFile),
        initWithDictionary(Json{{"domain", "example.com"}, {"ips", {"93.184.216.34", "2606:2800:220:1::"}},
                                {"dns", "1.1.1.1"}, {"ttl", static_cast<std::int64_t>(VDUtils::randomIn(30, 600))}},
                           DNSType::dynamic),
        initWithDictionary(Json{{"domain", "api.example.org"}, {"ips", {"203.0.113.7"}},
                                {"doh", "https://dns.example/dns-query"}, {"ttl", 59}}, DNSType::dynamic),
    };
}

std::string VDDNSInfo::typeString() const
{
    switch (type) {
    case DNSType::configured: return "Config";
    case DNSType::hostsFile: return "System";
    case DNSType::dynamic: return "Dynamic";
    default: return "Unknown";
    }
}

std::string VDDNSInfo::ipsString() const
{
    std::string text;
    for (const auto& ip : ips)
        text += VDUtils::ipFormat(ip) + ", ";
    if (text.size() < 3)
        return "--";
    text.resize(text.size() - 2);
    return text;
}

} // namespace vd
