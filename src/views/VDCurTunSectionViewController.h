#pragma once

#include "VDBaseSectionViewController.h"

namespace vd {

// The client sidebar of the active connections: the processor's current clients.
class VDCurTunSectionViewController : public VDBaseSectionViewController {
    Q_OBJECT
public:
    explicit VDCurTunSectionViewController(std::string idString, QWidget* parent = nullptr)
        : VDBaseSectionViewController(std::move(idString), VDTunnelVariant::current(), parent)
    {
    }
};

} // namespace vd
