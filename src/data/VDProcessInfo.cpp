#include "VDProcessInfo.h"

#include <algorithm>

#include "VDUtils.h"

namespace vd {

std::string VDProcessInfo::title() const
{
    const bool local = _localIPs && std::find(_localIPs->begin(), _localIPs->end(), fromHost) != _localIPs->end();
    if (!local && !fromHost.empty())
        return fromHost;
    if (processName.empty())
        return VDUtils::ipFormat(fromHost) + ":" + std::to_string(fromPort);
    return processName;
}

} // namespace vd
