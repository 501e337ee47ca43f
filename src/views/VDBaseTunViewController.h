#pragma once

#include <string>

#include <QWidget>

#include "VDSectionDelegate.h"
#include "VDLayoutAutosave.h"
#include "VDTunnelVariant.h"

class QSplitter;

namespace vd {

class VDBaseSectionViewController;
class VDBaseTunnelViewController;

// One tunnel section of a main window: the client sidebar beside the tunnel area, in a split
// view remembered under the section's name. It owns the section's client filter: a client
// chosen in the sidebar becomes the processor's filter, and the section reloads.
class VDBaseTunViewController : public QWidget, public VDSectionDelegate {
    Q_OBJECT
public:
    static constexpr int kSidebarMinimumWidth = 200;
    // The tunnel area's starting width, and the room it asks for beside the sidebar: in a
    // narrower window the sidebar folds away first, then the area becomes as narrow as
    // kTunnelAreaNarrowest, its table scrolling sideways.
    static constexpr int kTunnelAreaMinimumWidth = 700;
    static constexpr int kTunnelAreaNarrowest = 280;

    ~VDBaseTunViewController() override;

    const std::string& idString() const { return idString_; }
    QSplitter* splitView() const { return splitView_; }
    VDBaseSectionViewController* sectionVC() const { return sectionVC_; }
    VDBaseTunnelViewController* tableVC() const { return tableVC_; }

    // The process name is not needed: the bundle id alone names the client.
    void selectProcessName(const std::string& processName, const std::string& bundleId) override;

protected:
    // Takes the section's own sidebar and tunnel area, made with the same window id.
    VDBaseTunViewController(std::string idString, const VDTunnelVariant& variant, VDBaseSectionViewController* section,
                            VDBaseTunnelViewController* table, QWidget* parent);

private:
    const std::string idString_;
    const VDTunnelVariant& variant_;
    QSplitter* splitView_;
    VDBaseSectionViewController* sectionVC_;
    VDBaseTunnelViewController* tableVC_;
    VDLayoutAutosave autosave_;
};

} // namespace vd
