#include "VDBaseToolViewController.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QToolButton>

#include "GuiThread.h"
#include "VDToggleButton.h"
#include "VDToolStripDelegate.h"
#include "data/VDNotifications.h"

namespace vd {
namespace {

constexpr int kLeftMargin = 10;
constexpr int kSpacing = 10;
constexpr int kRightMargin = 5;
constexpr int kCollapseButtonSize = 22;
constexpr int kArrowSize = 8;

// The style's own arrow, pointing down, where the pane goes. Styles draw arrows at a fixed
// size within the rectangle, so the rectangle is the icon's size, with four pixels to the
// point so it stays crisp on dense screens.
QIcon downArrow(const QWidget& widget)
{
    constexpr int kPixelRatio = 4;
    QPixmap pixmap(kArrowSize * kPixelRatio, kArrowSize * kPixelRatio);
    pixmap.setDevicePixelRatio(kPixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    QStyleOption option;
    option.initFrom(&widget);
    option.rect = QRect(0, 0, kArrowSize, kArrowSize);
    widget.style()->drawPrimitive(QStyle::PE_IndicatorArrowDown, &option, &painter, &widget);
    painter.end();
    return QIcon(pixmap);
}

} // namespace

VDBaseToolViewController::VDBaseToolViewController(bool withClean, QWidget* parent)
    : QWidget(parent), layout_(new QHBoxLayout(this))
{
    setFixedHeight(kHeight);
    // The first section is often on screen before the service has said how its switches stand.
    serviceInfoToken_ = NotificationCenter::defaultCenter()->addObserver(kVDServiceInfoRefreshed, nullptr, [this](const Notification&) {
        runOnGuiThread(this, [this] {
            if (isVisible())
                readSwitchStates();
        });
    });
    layout_->setContentsMargins(kLeftMargin, 0, kRightMargin, 0);
    layout_->setSpacing(kSpacing);

    if (withClean) {
        connect(addButton("Clean", "cleanButton"), &QPushButton::clicked, this, [this] {
            if (delegate_)
                delegate_->cleanRecord();
        });
    }
    connect(addButton("Reload", "reloadButton"), &QPushButton::clicked, this, [this] {
        if (delegate_)
            delegate_->reloadTunnels();
    });
    trafficButton_ = new VDToggleButton("Record Traffic", "Disable Traffic Recroder", "Enable Traffic Recorder", this);
    mitmButton_ = new VDToggleButton("Enable MitM", "Disable MitM", "Enable MitM", this);
    for (auto* toggle : {trafficButton_, mitmButton_})
        layout_->addWidget(toggle, 0, Qt::AlignVCenter);
    connect(trafficButton_, &QPushButton::clicked, this, [this] { switchClicked(*trafficButton_, &VDToolStripDelegate::enableTrafficRecord); });
    connect(mitmButton_, &QPushButton::clicked, this, [this] { switchClicked(*mitmButton_, &VDToolStripDelegate::enableMitM); });
    layout_->addStretch();

    collapseButton_ = new QToolButton(this);
    collapseButton_->setObjectName("collapseButton");
    collapseButton_->setAutoRaise(true);
    collapseButton_->setFixedSize(kCollapseButtonSize, kCollapseButtonSize);
    collapseButton_->setIconSize(QSize(kArrowSize, kArrowSize));
    collapseButton_->setIcon(downArrow(*collapseButton_));
    collapseButton_->setToolTip("Hide the details");
    collapseButton_->setAccessibleName("Hide the details");
    collapseButton_->hide();
    layout_->addWidget(collapseButton_, 0, Qt::AlignVCenter);
    connect(collapseButton_, &QToolButton::clicked, this, &VDBaseToolViewController::collapseClicked);
}

QPushButton* VDBaseToolViewController::addButton(const QString& title, const QString& name)
{
    auto* button = new QPushButton(title, this);
    // The window's Reload and Clean menu items press the shown section's buttons by these names.
    button->setObjectName(name);
    layout_->addWidget(button, 0, Qt::AlignVCenter);
    return button;
}

void VDBaseToolViewController::hideCollapseButton(bool hide)
{
    collapseButton_->setVisible(!hide);
}

void VDBaseToolViewController::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A click earlier may have been refused, or the switches changed by another client's
    // command: each showing starts from what the processor knows.
    readSwitchStates();
}

void VDBaseToolViewController::readSwitchStates()
{
    if (delegate_) {
        trafficButton_->setState(delegate_->trafficRecordState());
        mitmButton_->setState(delegate_->mitemState());
    }
}

void VDBaseToolViewController::collapseClicked()
{
    hideCollapseButton(true);
    if (delegate_)
        delegate_->collapseDetail();
}

void VDBaseToolViewController::switchClicked(VDToggleButton& button, void (VDToolStripDelegate::*enable)(bool))
{
    const bool on = button.nextState();
    if (delegate_)
        (delegate_->*enable)(on);
    // Shown at once; a refusal by the service shows only at the next showing of the strip.
    button.setState(on);
}

} // namespace vd
