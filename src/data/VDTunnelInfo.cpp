#include "VDTunnelInfo.h"

#include <chrono>

#include <nlohmann/json.hpp>

#include "RecordFields.h"
#include "VDUtils.h"
#include "link/ReceivedPacket.h"
#include "link/ServiceContract.h"
#include "platform/Numbers.h"

namespace vd {
namespace {

using record::FieldEntry;
using record::Kind;
using T = VDTunnelInfo;

constexpr record::FieldTable<44> kFields(std::array<FieldEntry, 44>{{
    {"id", Kind::Int, T::kId},
    {"endId", Kind::Int, T::kEndId},
    {"type", Kind::Int, T::kType},
    {"closeReason", Kind::UInt, 0},
    {"t_start", Kind::Double, T::kStart},
    {"t_server_ready", Kind::Double, T::kServerReady},
    {"t_dns_resolved", Kind::Double, T::kDnsResolved},
    {"t_rule_found", Kind::Double, T::kRuleFound},
    {"t_proxy_ready", Kind::Double, T::kProxyReady},
    {"t_close", Kind::Double, T::kClose},
    {"t_end", Kind::Double, T::kEnd},
    {"host", Kind::Text, T::kHost},
    {"port", Kind::Int, T::kPort},
    {"headerString", Kind::Derived, T::kHeaderString},
    {"headerModified", Kind::Bool, T::kHeaderModified},
    {"modifiedHeaderString", Kind::Derived, T::kModifiedHeaderString},
    {"responseHeader", Kind::Derived, T::kResponseHeader},
    {"responseCode", Kind::Text, T::kResponseCode},
    {"responseModified", Kind::Bool, T::kResponseModified},
    {"SSLHost", Kind::Text, T::kSSLHost},
    {"SSLHeaderString", Kind::Derived, T::kSSLHeaderString},
    {"SSLHeaderModified", Kind::Bool, T::kSSLHeaderModified},
    {"SSLModifiedHeaderString", Kind::Derived, T::kSSLModifiedHeaderString},
    {"SSLResponseHeader", Kind::Derived, T::kSSLResponseHeader},
    {"SSLResponseCode", Kind::Text, T::kSSLResponseCode},
    {"SSLResponseModified", Kind::Bool, T::kSSLResponseModified},
    {"hasReceive", Kind::Bool, T::kHasReceive},
    {"hasSend", Kind::Bool, T::kHasSend},
    {"processName", Kind::Text, T::kProcessName},
    {"processIdentifier", Kind::Int, T::kProcessId},
    {"bundleIdentifier", Kind::Text, T::kBundleIdentifier},
    {"processPath", Kind::Text, T::kProcessPath},
    {"fromHost", Kind::Text, T::kFromHost},
    {"fromPort", Kind::Int, T::kFromPort},
    {"ipAddr", Kind::Text, T::kToHost},
    {"outboundMode", Kind::Text, T::kOutboundMode},
    {"ruleInfo", Kind::Text, T::kRuleInfo},
    {"policyName", Kind::Text, T::kPolicyName},
    {"rx", Kind::Int, T::kRx},
    {"tx", Kind::Int, T::kTx},
    {"rx_speed", Kind::Int, T::kRxSpeed},
    {"tx_speed", Kind::Int, T::kTxSpeed},
    {"rx_max_speed", Kind::Int, T::kRxMaxSpeed},
    {"tx_max_speed", Kind::Int, T::kTxMaxSpeed},
}});

double nowSince1970()
{
    using namespace std::chrono;
    return duration_cast<duration<double>>(system_clock::now().time_since_epoch()).count();
}

void appendSection(std::string& out, const char* title, const std::string& body)
{
    if (body.empty())
        return;
    out += title;
    out += body;
    out += "\n\n\n";
}

} // namespace

std::shared_ptr<const VDTunnelInfo> VDTunnelInfo::initWithJSONString(std::string_view text, double initTime)
{
    // A text the record parser accepts is UTF-8, which JSON can always escape.
    return initWithReportText(ReceivedPacket::escapeText(text), std::string(text), initTime);
}

std::shared_ptr<const VDTunnelInfo> VDTunnelInfo::initWithReportText(std::string_view escaped, const std::string& text,
                                                                     double initTime)
{
    auto info = std::make_shared<VDTunnelInfo>();
    const record::Targets targets{info->ints_.data(), &info->closeReason_, info->times_.data(), info->flags_.data(),
                                  info->texts_.data()};
    thread_local std::string shortStrings;
    shortStrings.clear();
    // Read before the copy is made: the text is then still in the cache, and the record's one
    // buffer gets its exact size.
    if (!record::readRecord(text, kFields, targets, shortStrings) ||
        escaped.size() + shortStrings.size() >= record::Slice::kAbsent)
        return nullptr;
    info->buffer_.reserve(escaped.size() + shortStrings.size());
    info->buffer_.append(escaped).append(shortStrings);
    info->textSize_ = static_cast<std::uint32_t>(escaped.size());
    info->initTime_ = initTime;
    return info;
}

constexpr std::array<std::string_view, VDTunnelInfo::kHeaderCount> kHeaderKeys{
    "headerString", "modifiedHeaderString", "responseHeader", "SSLHeaderString", "SSLModifiedHeaderString", "SSLResponseHeader"};

std::string VDTunnelInfo::rawData() const
{
    // It unescaped once already, when the record was made.
    std::string text;
    ReceivedPacket::unescapeText(escapedText(), text);
    return text;
}

std::string VDTunnelInfo::header(HeaderSlot slot) const
{
    return record::readStrings(rawData(), std::array<std::string_view, 1>{kHeaderKeys[slot]})[0];
}

TunnelStatus VDTunnelInfo::status() const
{
    if (t_start() >= t_end())
        return TunnelStatus::active;
    switch (static_cast<contract::CloseReason>(closeReason_)) {
    case contract::CloseReason::manualClose:
    case contract::CloseReason::timeout:
    case contract::CloseReason::memoryWarning:
    case contract::CloseReason::reject: return TunnelStatus::suspended;
    default: return TunnelStatus::completed;
    }
}

std::string VDTunnelInfo::statusString() const
{
    switch (status()) {
    case TunnelStatus::active: return "Active";
    case TunnelStatus::completed: return "Completed";
    case TunnelStatus::suspended: return "Suspend";
    default: return "Unknown";
    }
}

std::string VDTunnelInfo::closeReasonString() const
{
    switch (static_cast<contract::CloseReason>(closeReason_)) {
    case contract::CloseReason::manualClose: return "Manual Close";
    case contract::CloseReason::timeout: return "Timeout";
    case contract::CloseReason::memoryWarning: return "Memory Warning";
    case contract::CloseReason::reject: return "Reject";
    default: return "Complete";
    }
}

std::string VDTunnelInfo::method() const
{
    switch (type()) {
    case TunnelProtocol::http: return "HTTP";
    case TunnelProtocol::https: return "HTTPS";
    case TunnelProtocol::sock: return "SOCK";
    case TunnelProtocol::tcp: return "TCP";
    case TunnelProtocol::udp: return "UDP";
    default: return "UNKNOWN";
    }
}

std::int64_t VDTunnelInfo::code() const
{
    if (type() != TunnelProtocol::http && type() != TunnelProtocol::https)
        return -1;
    if (!SSLResponseCode().empty())
        return numbers::leadingInteger(SSLResponseCode());
    if (!responseCode().empty())
        return numbers::leadingInteger(responseCode());
    return -1;
}

double VDTunnelInfo::startTime() const
{
    return initTime_ + t_start();
}

double VDTunnelInfo::duration() const
{
    const double seconds = t_end() > t_start() ? t_end() - t_start() : nowSince1970() - initTime_ - t_start();
    return seconds < 0 ? 0 : seconds;
}

std::string VDTunnelInfo::processTitle() const
{
    if (processName().empty())
        return fromString();
    std::string title(processName());
    if (processId() != 0)
        title += "(" + std::to_string(processId()) + ")";
    return title;
}

std::string VDTunnelInfo::processDetailTitle() const
{
    if (!processName().empty())
        return std::string(processName());
    return std::string(fromHost()) + ":" + std::to_string(fromPort());
}

std::string VDTunnelInfo::fromString() const
{
    return record::hostPortText(fromHost(), fromPort());
}

std::string VDTunnelInfo::serverString() const
{
    return record::serverText(host(), port());
}

VDProcessInfo VDTunnelInfo::processInfo() const
{
    VDProcessInfo info;
    info.processIconPath = std::string(processIconPath());
    info.bundleIdentifier = std::string(bundleIdentifier());
    info.processName = std::string(processName());
    info.processId = processId();
    info.processPath = std::string(processPath());
    info.fromHost = std::string(fromHost());
    info.fromPort = fromPort();
    return info;
}

std::string VDTunnelInfo::requestHeaderString() const
{
    const auto headers = record::readStrings(rawData(), kHeaderKeys);
    std::string out;
    appendSection(out, "Request Header:\n\n", headers[kHeaderString]);
    appendSection(out, "Modified Header:\n\n", headers[kModifiedHeaderString]);
    appendSection(out, "SSL Header:\n\n", headers[kSSLHeaderString]);
    appendSection(out, "SSL Modified Header:\n\n", headers[kSSLModifiedHeaderString]);
    return out;
}

std::string VDTunnelInfo::responseHeaderString() const
{
    const auto headers = record::readStrings(rawData(), kHeaderKeys);
    std::string out;
    appendSection(out, "Response Header:\n\n", headers[kResponseHeader]);
    appendSection(out, "SSL Response Header:\n\n", headers[kSSLResponseHeader]);
    return out;
}

StyledText VDTunnelInfo::timeAttributedString() const
{
    StyledText runs;
    const auto line = [&](const char* label, double seconds) {
        runs.push_back({label, true});
        runs.push_back({" - " + VDUtils::formatDuration(seconds) + "\n", false});
    };
    line("Proxy Ready Cost", t_server_ready() - t_start());
    // Each step is the gap to its neighbour: a step never reached makes its own gap negative
    // and hides its line.
    if (const double dns = t_dns_resolved() - t_server_ready(); dns > 0)
        line("DNS Reslove", dns);
    if (const double rule = t_rule_found() - t_dns_resolved(); rule > 0)
        line("Rule Cost", rule);
    if (const double remote = t_proxy_ready() - t_rule_found(); remote > 0)
        line("Remote Ready Cost", remote);
    if (const double active = t_end() - t_start(); active > 0) {
        line("Active", active);
        runs.push_back({closeReasonString() + "\n", true});
    }
    return runs;
}

} // namespace vd

namespace vd {

std::vector<std::shared_ptr<const VDTunnelInfo>> VDTunnelInfo::testData()
{
    using Json = nlohmann::ordered_json;
    const auto sample = [](std::int64_t id, std::int64_t type, const char* host, std::int64_t port, double end,
                           std::uint64_t closeReason, const char* process, const char* code) {
        const double start = static_cast<double>(VDUtils::randomIn(1, 100));
        Json json{{"id", id},
                  {"endId", id},
                  {"type", type},
                  {"closeReason", closeReason},
                  {"t_start", start},
                  {"t_server_ready", start + 0.004},
                  {"t_dns_resolved", start + 0.020},
                  {"t_rule_found", start + 0.021},
                  {"t_proxy_ready", start + 0.180},
                  {"t_end", end > 0 ? start + end : 0.0},
                  {"host", host},
                  {"port", port},
                  {"headerString", std::string("GET / HTTP/1.1\r\nHost: ") + host + "\r\nAccept: */*\r\n\r\n"},
                  {"responseHeader", std::string("HTTP/1.1 ") + code + " OK\r\nContent-Length: 5\r\n\r\n"},
                  {"responseCode", code},
                  {"hasReceive", true},
                  {"processName", process},
                  {"processIdentifier", VDUtils::randomIn(100, 5000)},
                  {"bundleIdentifier", std::string("com.example.") + process},
                  {"fromHost", "127.0.0.1"},
                  {"fromPort", VDUtils::randomIn(49152, 16383)},
                  {"ipAddr", "93.184.216.34"},
                  {"outboundMode", "Rule"},
                  {"ruleInfo", "DOMAIN-SUFFIX,example.com"},
                  {"policyName", "DIRECT"},
                  {"rx", VDUtils::randomIn(0, 1 << 20)},
                  {"tx", VDUtils::randomIn(0, 1 << 16)},
                  {"rx_speed", VDUtils::randomIn(0, 1 << 16)},
                  {"tx_speed", VDUtils::randomIn(0, 1 << 12)}};
        return VDTunnelInfo::initWithJSONString(json.dump(), 1.7e9);
    };
    return {sample(1, 1, "example.com", 80, 0.5, 0, "curl", "200"),
            sample(2, 2, "api.example.org", 443, 0, 0, "Safari", "204"),
            sample(3, 2, "cdn.example.net", 443, 2.25, 1, "Mail", "404"),
            sample(4, 4, "2001:db8::1", 22, 12.0, 4, "ssh", "")};
}

} // namespace vd
