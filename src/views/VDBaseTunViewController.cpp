#include "VDBaseTunViewController.h"

#include <QSplitter>
#include <QVBoxLayout>

#include "GuiThread.h"
#include "VDBaseSectionViewController.h"
#include "VDBaseTunnelViewController.h"
#include "data/VDDataManager.h"
#include "VDSidebarYield.h"

namespace vd {

VDBaseTunViewController::VDBaseTunViewController(std::string idString, const VDTunnelVariant& variant,
                                                 VDBaseSectionViewController* section, VDBaseTunnelViewController* table,
                                                 QWidget* parent)
    : QWidget(parent),
      idString_(std::move(idString)),
      variant_(variant),
      splitView_(new QSplitter(Qt::Horizontal, this)),
      sectionVC_(section),
      tableVC_(table),
      autosave_(*splitView_, variant.splitAutosaveName)
{
    splitView_->setHandleWidth(1);
    splitView_->setChildrenCollapsible(false);
    sectionVC_->setMinimumWidth(kSidebarMinimumWidth);
    tableVC_->setMinimumWidth(kTunnelAreaNarrowest);
    splitView_->addWidget(sectionVC_);
    splitView_->addWidget(tableVC_);
    splitView_->setCollapsible(0, true);
    new VDSidebarYield(*splitView_, kTunnelAreaMinimumWidth);
    // A wider window widens the tunnels, not the sidebar.
    splitView_->setStretchFactor(0, 0);
    splitView_->setStretchFactor(1, 1);
    if (!autosave_.restore())
        splitView_->setSizes({kSidebarMinimumWidth, kTunnelAreaMinimumWidth});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitView_);

    sectionVC_->setDelegate(this);
}

VDBaseTunViewController::~VDBaseTunViewController()
{
    sectionVC_->setDelegate(nullptr);
}

void VDBaseTunViewController::selectProcessName(const std::string&, const std::string& bundleId)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    const auto processer = VDDataManager::sharedInstance().getProcesserOfId(idString_);
    if (!processer)
        return;
    ((*processer).*variant_.setFilterBundleId)(bundleId);
    NotificationCenter::defaultCenter()->post(variant_.refreshNotification);
}

} // namespace vd
