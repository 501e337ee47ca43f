#include "VDProcessInfo.h"

#include <algorithm>

#include "RecordFields.h"

namespace vd {

std::string VDProcessInfo::title() const
{
    const bool local = _localIPs && std::find(_localIPs->begin(), _localIPs->end(), fromHost) != _localIPs->end();
    if (!local && !fromHost.empty())
        return fromHost;
    if (processName.empty())
        return record::hostPortText(fromHost, fromPort);
    return processName;
}

} // namespace vd
