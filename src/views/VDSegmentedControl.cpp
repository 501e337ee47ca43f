#include "VDSegmentedControl.h"

#include <algorithm>

#include <QEvent>
#include <QHBoxLayout>
#include <QToolButton>

namespace vd {

VDSegmentedControl::VDSegmentedControl(const QStringList& labels, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    group_.setExclusive(true);

    for (int i = 0; i < labels.size(); ++i) {
        auto* button = new QToolButton(this);
        button->setText(labels[i]);
        button->setCheckable(true);
        button->setAutoRaise(false);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        group_.addButton(button, i);
        layout->addWidget(button);
    }
    equalise();

    connect(&group_, &QButtonGroup::idClicked, this, &VDSegmentedControl::segmentSelected);
}

bool VDSegmentedControl::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::Polish || event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        equalise();
    return handled;
}

void VDSegmentedControl::equalise()
{
    int widest = 0;
    for (auto* button : group_.buttons()) {
        button->ensurePolished();
        widest = std::max(widest, button->sizeHint().width());
    }
    for (auto* button : group_.buttons())
        button->setFixedWidth(widest);
}

void VDSegmentedControl::setSelectedSegment(int segment)
{
    if (auto* button = group_.button(segment))
        button->setChecked(true);
}

} // namespace vd
