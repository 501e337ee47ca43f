#pragma once

#include <memory>
#include <vector>

namespace vd {

class VDTunnelInfo;
class VDUDPTunnelInfo;
struct VDProcessInfo;

// The lists a processor hands out and the views show: whole copies of shared immutable records.
// Named apart from the processor, so that a view holding a list does not include the link.
using TunnelList = std::vector<std::shared_ptr<const VDTunnelInfo>>;
using UDPList = std::vector<std::shared_ptr<const VDUDPTunnelInfo>>;
using ProcessList = std::vector<VDProcessInfo>;

} // namespace vd
