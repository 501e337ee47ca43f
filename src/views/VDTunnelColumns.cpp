#include "VDTunnelColumns.h"

#include "data/VDUtils.h"

namespace vd {
namespace {

std::string byteCount(std::int64_t value)
{
    auto [number, unit] = VDUtils::transformedValue(value, false);
    return number + unit;
}

} // namespace

std::string policyText(std::string_view policyName, std::string_view ruleInfo)
{
    if (policyName.empty())
        return "--";
    std::string text(policyName);
    if (!ruleInfo.empty())
        text.append(" (").append(ruleInfo).append(")");
    return text;
}

std::string tunnelPolicyText(const VDTunnelInfo& tunnel)
{
    return policyText(tunnel.policyName(), tunnel.ruleInfo());
}

std::string tunnelCellText(const VDTunnelInfo& tunnel, int column)
{
    using namespace tunnelcolumn;
    switch (column) {
    case kId: return std::to_string(tunnel.id_());
    case kDate: return VDUtils::formatTunnelStartTime(tunnel.startTime());
    case kClient: return tunnel.processTitle();
    case kStatusString: return tunnel.statusString();
    case kPolicy: return tunnelPolicyText(tunnel);
    case kTx: return byteCount(tunnel.tx());
    case kRx: return byteCount(tunnel.rx());
    case kDuration: return VDUtils::formatDuration(tunnel.duration());
    case kMethod: return tunnel.method();
    case kServer: return tunnel.serverString();
    default: return {};
    }
}

} // namespace vd
