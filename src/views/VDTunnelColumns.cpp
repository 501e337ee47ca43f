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

std::string tunnelPolicyText(const VDTunnelInfo& tunnel)
{
    if (tunnel.policyName().empty())
        return "--";
    std::string text(tunnel.policyName());
    if (!tunnel.ruleInfo().empty())
        text.append(" (").append(tunnel.ruleInfo()).append(")");
    return text;
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
