#include "VDStatusFigures.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QToolButton>

#include "VDQuantityTexts.h"

namespace vd {
namespace {

QString count(std::uint64_t value)
{
    return QLocale().toString(static_cast<qulonglong>(value));
}

} // namespace

VDStatusFigures::VDStatusFigures(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    active_ = addFigure("activeFigure", "Active connections");
    rows_ = addFigure("rowsFigure", "Rows");
    speed_ = addFigure("speedFigure", "Speed");
    totals_ = addFigure("totalsFigure", "Sent and received");
    held_ = addFigure("heldFigure", "Paused");
    held_->hide();
    pause_ = new QToolButton(this);
    pause_->setObjectName("pauseSwitch");
    pause_->setText("Pause");
    pause_->setAccessibleName("Pause");
    pause_->setToolTip("Freeze the lists; reports keep arriving (Ctrl+P)");
    pause_->setCheckable(true);
    pause_->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(pause_);
}

QLabel* VDStatusFigures::addFigure(const char* objectName, const QString& accessibleName)
{
    auto* label = new QLabel(this);
    label->setObjectName(objectName);
    label->setAccessibleName(accessibleName);
    // Read by screen readers and copied by hand, as figures are.
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setFocusPolicy(Qt::NoFocus);
    layout()->addWidget(label);
    return label;
}

void VDStatusFigures::showActive(std::size_t tunnels, std::int64_t upload, std::int64_t download)
{
    active_->setText(QString("%1 active").arg(count(tunnels)));
    speed_->setText(QString("\u2191 %1  \u2193 %2").arg(speedText(upload), speedText(download)));
}

void VDStatusFigures::showRows(std::size_t shown, std::size_t listed)
{
    rows_->setText(QString("%1 of %2 rows").arg(count(shown), count(listed)));
}

void VDStatusFigures::showTotals(std::int64_t sent, std::int64_t received)
{
    totals_->setText(QString("Sent %1 \u00b7 Received %2").arg(sizeText(sent), sizeText(received)));
}

void VDStatusFigures::showHeld(bool paused, std::uint64_t reports)
{
    held_->setVisible(paused);
    if (paused)
        held_->setText(reports == 1 ? QString("Paused: 1 report held back")
                                    : QString("Paused: %1 reports held back").arg(count(reports)));
}

} // namespace vd
