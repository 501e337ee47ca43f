#pragma once

#include <memory>

#include "data/VDTunnelInfo.h"

namespace vd {

// What a tunnel list asks of the split view it sits in (its `basicDelegate`): show a record in
// the detail pane, refresh the record shown there, or fold the pane away.
class VDTunnelListDelegate {
public:
    virtual ~VDTunnelListDelegate() = default;
    // A record other than the one shown was selected: the pane opens on it, at its first tab.
    virtual void openDetailFor(const std::shared_ptr<const VDTunnelInfo>& tunnel) = 0;
    // The shown record came again with a reload: the pane refreshes in place.
    virtual void updateDetailFor(const std::shared_ptr<const VDTunnelInfo>& tunnel) = 0;
    virtual void collapseDetail() = 0;
};

} // namespace vd
