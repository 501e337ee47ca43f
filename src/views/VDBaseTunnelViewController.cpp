#include "VDBaseTunnelViewController.h"

#include <QSplitter>
#include <QVBoxLayout>

#include "GuiThread.h"
#include "VDBaseToolViewController.h"
#include "VDBaseTunnelListViewController.h"
#include "VDTunnelDetailViewController.h"
#include "data/VDDataManager.h"

namespace vd {

VDBaseTunnelViewController::VDBaseTunnelViewController(std::string idString, const VDTunnelVariant& variant,
                                                       VDBaseTunnelListViewController* list, VDBaseToolViewController* tool,
                                                       QWidget* parent)
    : QWidget(parent),
      idString_(std::move(idString)),
      variant_(variant),
      splitView_(new QSplitter(Qt::Vertical, this)),
      listViewController_(list),
      toolViewController_(tool),
      detailViewController_(new VDTunnelDetailViewController(idString_)),
      autosave_(*splitView_, kViewControllerId)
{
    splitView_->setHandleWidth(1);
    splitView_->setChildrenCollapsible(false);
    listViewController_->setMinimumHeight(kListMinimumHeight);
    detailViewController_->setMinimumHeight(kDetailMinimumHeight);
    splitView_->addWidget(listViewController_);
    splitView_->addWidget(toolViewController_);
    splitView_->addWidget(detailViewController_);
    // A taller window gives the room to the list.
    splitView_->setStretchFactor(0, 1);
    splitView_->setStretchFactor(1, 0);
    splitView_->setStretchFactor(2, 0);
    // Folded away until a record is selected; a hidden pane takes no room and no divider.
    detailViewController_->hide();
    autosave_.setEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitView_);

    listViewController_->tableView()->setAccessibleName(variant.title);
    listViewController_->tableView()->rememberColumnsAs(variant.tableAutosaveName);
    detailViewController_->setAccessibleName("Details");

    listViewController_->setBasicDelegate(this);
    toolViewController_->setDelegate(this);
}

VDBaseTunnelViewController::~VDBaseTunnelViewController()
{
    listViewController_->setBasicDelegate(nullptr);
    toolViewController_->setDelegate(nullptr);
}

std::shared_ptr<VDDataProcesser> VDBaseTunnelViewController::processer() const
{
    return VDDataManager::sharedInstance().getProcesserOfId(idString_);
}

bool VDBaseTunnelViewController::isDetailOpen() const
{
    return !detailViewController_->isHidden();
}

void VDBaseTunnelViewController::expandDetail()
{
    if (!isDetailOpen()) {
        detailViewController_->show();
        // The layout the user last left (in either section), else the list over a pane of
        // its smallest height.
        if (!autosave_.restore()) {
            const int height = splitView_->height();
            splitView_->setSizes({height - VDBaseToolViewController::kHeight - kDetailMinimumHeight,
                                  VDBaseToolViewController::kHeight, kDetailMinimumHeight});
        }
        autosave_.setEnabled(true);
    }
    toolViewController_->hideCollapseButton(false);
}

void VDBaseTunnelViewController::openDetailFor(const std::shared_ptr<const VDTunnelInfo>& tunnel)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    expandDetail();
    detailViewController_->setTunnelInfo(tunnel);
}

void VDBaseTunnelViewController::updateDetailFor(const std::shared_ptr<const VDTunnelInfo>& tunnel)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    expandDetail();
    detailViewController_->updateTunnelInfo(tunnel);
}

void VDBaseTunnelViewController::collapseDetail()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (isDetailOpen()) {
        autosave_.setEnabled(false);
        detailViewController_->hide();
    }
    listViewController_->deSelectTunnel();
    toolViewController_->hideCollapseButton(true);
}

void VDBaseTunnelViewController::cleanRecord()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (const auto processer = this->processer(); processer && variant_.cleanRecord)
        ((*processer).*variant_.cleanRecord)();
}

void VDBaseTunnelViewController::reloadTunnels()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (const auto processer = this->processer())
        ((*processer).*variant_.reloadTunnels)();
}

bool VDBaseTunnelViewController::trafficRecordState() const
{
    const auto processer = this->processer();
    return processer && processer->recorderEnabled();
}

void VDBaseTunnelViewController::enableTrafficRecord(bool on)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (const auto processer = this->processer())
        processer->setRecorderEnabled(on);
}

bool VDBaseTunnelViewController::mitemState() const
{
    const auto processer = this->processer();
    return processer && processer->mitmEnabled();
}

void VDBaseTunnelViewController::enableMitM(bool on)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (const auto processer = this->processer())
        processer->setMitmEnabled(on);
}

} // namespace vd
