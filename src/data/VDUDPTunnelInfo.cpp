#include "VDUDPTunnelInfo.h"

#include "RecordFields.h"

namespace vd {
namespace {

using record::FieldEntry;
using record::Kind;
using U = VDUDPTunnelInfo;

constexpr record::FieldTable<13> kFields(std::array<FieldEntry, 13>{{
    {"id", Kind::Int, U::kId},
    {"status", Kind::UInt, 0},
    {"direction", Kind::Int, U::kDirection},
    {"fromHost", Kind::Text, U::kFromHost},
    {"fromPort", Kind::Int, U::kFromPort},
    {"host", Kind::Text, U::kHost},
    {"port", Kind::Int, U::kPort},
    {"outboundMode", Kind::Text, U::kOutboundMode},
    {"ruleInfo", Kind::Text, U::kRuleInfo},
    {"policyName", Kind::Text, U::kPolicyName},
    {"t_time", Kind::Double, U::kTime},
    {"t_rule_found", Kind::Double, U::kRuleFound},
    {"t_end", Kind::Double, U::kEnd},
}});

} // namespace

std::shared_ptr<const VDUDPTunnelInfo> VDUDPTunnelInfo::initWithJSONString(std::string text, double initTime)
{
    auto info = std::make_shared<VDUDPTunnelInfo>();
    const record::Targets targets{info->ints_.data(), &info->status_, info->times_.data(), nullptr,
                                  info->texts_.data()};
    if (!record::parseRecord(text, kFields, targets, info->shortStrings_))
        return nullptr;
    info->text_ = std::move(text);
    info->initTime_ = initTime;
    return info;
}

std::string VDUDPTunnelInfo::statusString() const
{
    if (received())
        return "Recved";
    switch (status()) {
    case UDPStatus::active: return "Active";
    case UDPStatus::sent: return "Sent";
    case UDPStatus::failed: return "Fail";
    default: return "Unknown";
    }
}

std::string VDUDPTunnelInfo::fromString() const
{
    return record::hostPortText(fromHost(), fromPort());
}

std::string VDUDPTunnelInfo::serverString() const
{
    return record::serverText(host(), port());
}

} // namespace vd
