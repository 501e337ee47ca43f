#include "RecentRangeRequest.h"

#include <string_view>

#include "RequestFields.h"

namespace vd::sim {

std::variant<TrafficModel::RecentRange, std::string> recentRangeOf(const QNComPacket::Dictionary* data)
{
    TrafficModel::RecentRange range;
    if (!data)
        return range;
    const auto* sub = stringMember(data, "cmd");
    if (!sub)
        return std::string("\"cmd\" must name a sub-command");
    const auto from = integerMember(data, "from");
    const auto to = integerMember(data, "to");
    const auto count = integerMember(data, "count");
    const std::string_view which = *sub;
    const bool needsFrom = which == "from_to" || which == "from_count" || which == "from_to_last";
    const bool needsCount = which == "last_count" || which == "from_count";
    if (!needsFrom && !needsCount)
        return "unknown sub-command \"" + *sub + "\"";
    if (needsFrom && !from)
        return std::string("\"from\" must be an integer");
    if (which == "from_to" && !to)
        return std::string("\"to\" must be an integer");
    if (needsCount && (!count || *count < 0))
        return std::string("\"count\" must be an integer of at least 0");
    if (needsFrom)
        range.from = *from;
    if (which == "from_to")
        range.to = *to;
    if (which == "from_count")
        range.firstCount = count;
    if (which == "last_count")
        range.lastCount = count;
    return range;
}

} // namespace vd::sim
