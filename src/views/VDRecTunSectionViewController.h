#pragma once

#include "VDBaseSectionViewController.h"

namespace vd {

// The client sidebar of the recent requests: the processor's recent clients.
class VDRecTunSectionViewController : public VDBaseSectionViewController {
    Q_OBJECT
public:
    explicit VDRecTunSectionViewController(std::string idString, QWidget* parent = nullptr)
        : VDBaseSectionViewController(std::move(idString), VDTunnelVariant::recent(), parent)
    {
    }
};

} // namespace vd
