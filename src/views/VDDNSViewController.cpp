#include "VDDNSViewController.h"

#include <QSplitter>
#include <QVBoxLayout>

#include "GuiThread.h"
#include "VDDNSListViewController.h"
#include "VDDNSSectionViewController.h"
#include "VDSidebarYield.h"

namespace vd {

VDDNSViewController::VDDNSViewController(std::string idString, QWidget* parent)
    : QWidget(parent),
      idString_(std::move(idString)),
      splitView_(new QSplitter(Qt::Horizontal, this)),
      sectionVC_(new VDDNSSectionViewController(splitView_)),
      listVC_(new VDDNSListViewController(idString_, splitView_)),
      autosave_(*splitView_, kSplitAutosaveName)
{
    resize(1000, 800);
    splitView_->setObjectName(kSplitAutosaveName);
    splitView_->setHandleWidth(1);
    splitView_->setChildrenCollapsible(false);
    sectionVC_->setMinimumWidth(kSidebarMinimumWidth);
    listVC_->setMinimumWidth(kListNarrowest);
    splitView_->addWidget(sectionVC_);
    splitView_->addWidget(listVC_);
    splitView_->setCollapsible(0, true);
    new VDSidebarYield(*splitView_, kListRoom);
    // A wider window widens the list, not the sidebar.
    splitView_->setStretchFactor(0, 0);
    splitView_->setStretchFactor(1, 1);
    // Sizes are given for this size: the split view shares out any other width by its stretch
    // factors, so the sidebar keeps the width it had.
    splitView_->resize(size());
    // The divider starts where the sidebar's minimum width allows.
    if (!autosave_.restore())
        splitView_->setSizes({kSidebarMinimumWidth, width() - kSidebarMinimumWidth});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitView_);

    sectionVC_->setDelegate(this);
}

VDDNSViewController::~VDDNSViewController()
{
    sectionVC_->setDelegate(nullptr);
}

void VDDNSViewController::selectDNSType(std::uint64_t type)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    listVC_->setFilterType(type);
    listVC_->reloadData();
}

} // namespace vd
