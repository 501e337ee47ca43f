#include "VDTunnelDetailViewController.h"

#include <QAbstractButton>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QShortcut>
#include <QVBoxLayout>

#include "GuiThread.h"
#include "VDFindBar.h"
#include "VDFindTarget.h"
#include "VDLabel.h"
#include "VDSegmentedControl.h"
#include "VDTunnelDetailDataView.h"
#include "VDTunnelDetailGeneralView.h"
#include "VDTunnelDetailTextView.h"
#include "data/VDICONImageManager.h"

namespace vd {
namespace {

constexpr int kTopHeight = 60;
constexpr int kTopInset = 20;
constexpr int kTabInset = 30;
constexpr int kContentInset = 25;
constexpr int kContentBottom = 10;

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QFont sized(QFont font, int pixels, bool bold)
{
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QFrame* rule()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFixedHeight(1);
    // The palette's own rule colour, so a dark theme draws a dark rule.
    line->setStyleSheet("background-color: palette(mid); border: none;");
    return line;
}

} // namespace

VDTunnelDetailViewController::VDTunnelDetailViewController(std::string idString, QWidget* parent)
    : QWidget(parent), idString_(std::move(idString)), generalView_(new VDTunnelDetailGeneralView), findBar_(new VDFindBar)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, kContentBottom);
    layout->setSpacing(6);
    layout->addWidget(buildTopView());
    layout->addWidget(buildTabBar());
    // A widget of its own, so the content area keeps its room even while it is empty.
    auto* bottom = new QWidget;
    bottomView_ = new QVBoxLayout(bottom);
    bottomView_->setContentsMargins(kContentInset, 4, kContentInset, 0);
    layout->addWidget(bottom, 1);
    generalView_->hide();

    // Under the content, inset as the content is; hidden, and taking no room, until asked for.
    findBar_->layout()->setContentsMargins(kContentInset, 0, kContentInset, 0);
    findBar_->hide();
    layout->addWidget(findBar_);
    connect(findBar_, &VDFindBar::dismissed, this, &VDTunnelDetailViewController::focusContent);
    // Only while focus is in this pane, so the panes of other sections keep theirs.
    for (const auto& [key, forward] : {std::pair{QKeySequence(Qt::Key_F3), true}, std::pair{QKeySequence(Qt::SHIFT | Qt::Key_F3), false}}) {
        auto* again = new QShortcut(key, this);
        again->setContext(Qt::WidgetWithChildrenShortcut);
        connect(again, &QShortcut::activated, this, [this, forward] { findAgain(forward); });
    }
}

QWidget* VDTunnelDetailViewController::buildTopView()
{
    auto* topView = new QWidget;
    topView->setFixedHeight(kTopHeight);
    iconView_ = new QLabel;
    iconView_->setFixedSize(kIconSize, kIconSize);
    iconView_->setScaledContents(true);

    processNameLabel_ = new VDLabel;
    processNameLabel_->setFont(sized(font(), 18, true));
    urlLabel_ = new VDLabel;
    auto* names = new QVBoxLayout;
    names->setSpacing(0);
    names->addStretch();
    names->addWidget(processNameLabel_);
    names->addWidget(urlLabel_);
    names->addStretch();

    statusLabel_ = new QLabel;
    statusLabel_->setFont(sized(font(), 12, true));
    statusLabel_->setStyleSheet("QLabel { color: white; background-color: #8e8e93; border-radius: 3px; padding: 2px 4px; }");
    auto* status = new QVBoxLayout;
    status->setContentsMargins(0, 10, 0, 0);
    status->addWidget(statusLabel_);
    // No badge until there is a status to show.
    statusLabel_->hide();
    status->addStretch();

    auto* layout = new QHBoxLayout(topView);
    layout->setContentsMargins(kTopInset, 0, kTopInset, 0);
    layout->setSpacing(12);
    layout->addWidget(iconView_, 0, Qt::AlignVCenter);
    layout->addLayout(names, 1);
    layout->addLayout(status);
    return topView;
}

QWidget* VDTunnelDetailViewController::buildTabBar()
{
    auto* bar = new QWidget;
    segmentedControl_ = new VDSegmentedControl(
        {"General", "Time", "Request Header", "Response Header", "Request Data", "Response Data"});
    segmentedControl_->setAccessibleName("Detail tabs");
    segmentedControl_->setSelectedSegment(kGeneral);
    connect(segmentedControl_, &VDSegmentedControl::segmentSelected, this, &VDTunnelDetailViewController::selectSegment);
    auto* left = rule();
    left->setFixedWidth(kTabInset);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(left, 0, Qt::AlignVCenter);
    layout->addWidget(segmentedControl_);
    layout->addWidget(rule(), 1, Qt::AlignVCenter);
    return bar;
}

void VDTunnelDetailViewController::setTunnelInfo(std::shared_ptr<const VDTunnelInfo> tunnel)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    segmentedControl_->setSelectedSegment(kGeneral);
    updateTunnelInfoAndResetDetail(std::move(tunnel));
}

void VDTunnelDetailViewController::updateTunnelInfoAndResetDetail(std::shared_ptr<const VDTunnelInfo> tunnel)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (!tunnel)
        return;
    const bool sameRecord = info && info->id_() == tunnel->id_();
    updateTunnelInfo(tunnel);
    processNameLabel_->setText(qs(info->processDetailTitle()));
    urlLabel_->setText(info->host().empty() ? QString("--") : QString("%1:%2").arg(qs(info->host())).arg(info->port()));
    statusLabel_->setText(" " + qs(info->statusString()) + " ");
    statusLabel_->show();
    if (!sameRecord || segmentedControl_->selectedSegment() == kGeneral)
        selectSegment();
    segmentedControl_->segment(kRequestHeader)->setEnabled(!info->requestHeaderString().empty());
    segmentedControl_->segment(kResponseHeader)->setEnabled(!info->responseHeaderString().empty());
    segmentedControl_->segment(kRequestData)->setEnabled(info->hasSend());
    segmentedControl_->segment(kResponseData)->setEnabled(info->hasReceive());
}

void VDTunnelDetailViewController::updateTunnelInfo(std::shared_ptr<const VDTunnelInfo> tunnel)
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (!tunnel)
        return;
    // A newer copy of the same record keeps its icon while the new one loads; only another
    // record starts from an empty one.
    if (!info || info->id_() != tunnel->id_())
        iconView_->clear();
    info = std::move(tunnel);
    reloadIcon();
    generalView_->setTunnelInfo(*info);
}

void VDTunnelDetailViewController::reloadIcon()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    // An answer for a record no longer shown is dropped.
    auto show = [guard = QPointer(this), id = info->id_()](const QImage& image) {
        if (guard && guard->info && guard->info->id_() == id && !image.isNull())
            guard->iconView_->setPixmap(QPixmap::fromImage(image));
    };
    const auto icons = VDICONImageManager::sharedInstance();
    if (!info->bundleIdentifier().empty())
        icons->loadICONofBundleId(std::string(info->bundleIdentifier()), kIconLoadSize, kIconLoadSize, show);
    else if (!info->processIconPath().empty())
        icons->loadImagePath(std::string(info->processIconPath()), kIconLoadSize, kIconLoadSize, show);
    else
        icons->returnDefaultImageSize(kIconLoadSize, kIconLoadSize, show);
}

void VDTunnelDetailViewController::selectSegment()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    if (tabView_ != generalView_)
        delete tabView_;
    tabView_ = nullptr;
    bottomView_->removeWidget(generalView_);
    generalView_->hide();
    if (!info)
        return;

    const int segment = segmentedControl_->selectedSegment();
    if (segment == kGeneral) {
        tabView_ = generalView_;
    } else if (segment == kRequestData || segment == kResponseData) {
        auto* dataView = new VDTunnelDetailDataView;
        dataView->setId(idString_, info, segment == kRequestData);
        dataView->setContentName(segmentedControl_->segment(segment)->text());
        tabView_ = dataView;
    } else {
        auto* textView = new VDTunnelDetailTextView;
        textView->setContentName(segmentedControl_->segment(segment)->text());
        if (segment == kTime)
            textView->setAttributedText(info->timeAttributedString());
        else
            textView->setText(qs(segment == kRequestHeader ? info->requestHeaderString() : info->responseHeaderString()));
        tabView_ = textView;
    }
    bottomView_->addWidget(tabView_);
    tabView_->show();
    if (auto* text = qobject_cast<VDTunnelDetailTextView*>(tabView_))
        connect(text, &VDTunnelDetailTextView::findTargetChanged, this, &VDTunnelDetailViewController::bindFindBar);
    bindFindBar();
}

QWidget* VDTunnelDetailViewController::contentView() const
{
    return tabView_;
}

VDFindTarget* VDTunnelDetailViewController::shownFindTarget() const
{
    auto* text = qobject_cast<VDTunnelDetailTextView*>(tabView_);
    return text ? text->findTarget() : nullptr;
}

void VDTunnelDetailViewController::bindFindBar()
{
    findBar_->setTarget(shownFindTarget());
}

void VDTunnelDetailViewController::openFindBar()
{
    VD_ASSERT_ON_GUI_THREAD(this);
    bindFindBar();
    findBar_->open();
}

void VDTunnelDetailViewController::findAgain(bool forward)
{
    if (findBar_->isHidden() || findBar_->queryField()->text().isEmpty())
        openFindBar();
    else if (forward)
        findBar_->findNext();
    else
        findBar_->findPrevious();
}

void VDTunnelDetailViewController::focusContent()
{
    if (VDFindTarget* target = findBar_->target(); target && target->content())
        target->content()->setFocus(Qt::OtherFocusReason);
    else if (QAbstractButton* tab = segmentedControl_->segment(segmentedControl_->selectedSegment()))
        tab->setFocus(Qt::OtherFocusReason);
}

} // namespace vd
