#pragma once

#include <string>
#include <variant>

#include "TrafficModel.h"
#include "link/QNComPacket.h"

namespace vd::sim {

// The range of recent records a history request asks for: all of them without data, else the
// one its sub-command "cmd" names with "from", "to" and "count". A malformed request gives
// the text saying what is wrong instead.
std::variant<TrafficModel::RecentRange, std::string> recentRangeOf(const QNComPacket::Dictionary* data);

} // namespace vd::sim
