#pragma once

#include <memory>
#include <string>

#include <QWidget>

#include "VDLayoutAutosave.h"
#include "VDToolStripDelegate.h"
#include "VDTunnelListDelegate.h"
#include "VDTunnelVariant.h"

class QSplitter;

namespace vd {

class VDBaseToolViewController;
class VDBaseTunnelListViewController;
class VDTunnelDetailViewController;

// The tunnel area of a section: the tunnel list, the tool strip and the detail pane, stacked in
// a split view. The detail pane is folded away until a record is selected; the strip's collapse
// button shows exactly while it is open. It turns the strip's clicks into processor calls.
class VDBaseTunnelViewController : public QWidget, public VDTunnelListDelegate, public VDToolStripDelegate {
    Q_OBJECT
public:
    // The autosave name of this split view, shared by both sections, so they share one layout.
    static constexpr const char* kViewControllerId = "test.test.test";
    static constexpr int kListMinimumHeight = 100;
    static constexpr int kDetailMinimumHeight = 240;

    ~VDBaseTunnelViewController() override;

    const std::string& idString() const { return idString_; }
    QString viewControllerId() const { return kViewControllerId; }
    QSplitter* splitView() const { return splitView_; }
    VDBaseTunnelListViewController* listViewController() const { return listViewController_; }
    VDBaseToolViewController* toolViewController() const { return toolViewController_; }
    VDTunnelDetailViewController* detailViewController() const { return detailViewController_; }
    bool isDetailOpen() const;

    void openDetailFor(const std::shared_ptr<const VDTunnelInfo>& tunnel) override;
    void updateDetailFor(const std::shared_ptr<const VDTunnelInfo>& tunnel) override;
    void collapseDetail() override;

    void cleanRecord() override;
    void reloadTunnels() override;
    bool trafficRecordState() const override;
    void enableTrafficRecord(bool on) override;
    bool mitemState() const override;
    void enableMitM(bool on) override;

protected:
    // Takes the section's own list and strip (made with the same window id) into the split view.
    VDBaseTunnelViewController(std::string idString, const VDTunnelVariant& variant, VDBaseTunnelListViewController* list,
                               VDBaseToolViewController* tool, QWidget* parent);

private:
    void expandDetail();
    std::shared_ptr<VDDataProcesser> processer() const;

    const std::string idString_;
    const VDTunnelVariant& variant_;
    QSplitter* splitView_;
    VDBaseTunnelListViewController* listViewController_;
    VDBaseToolViewController* toolViewController_;
    VDTunnelDetailViewController* detailViewController_;
    VDLayoutAutosave autosave_;
};

} // namespace vd
