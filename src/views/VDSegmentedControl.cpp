#include "VDSegmentedControl.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QToolButton>

namespace vd {

VDSegmentedControl::VDSegmentedControl(const QStringList& labels, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    group_.setExclusive(true);

    int widest = 0;
    for (int i = 0; i < labels.size(); ++i) {
        auto* button = new QToolButton(this);
        button->setText(labels[i]);
        button->setCheckable(true);
        button->setAutoRaise(false);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        group_.addButton(button, i);
        layout->addWidget(button);
        widest = std::max(widest, button->sizeHint().width());
    }
    // Equal segments: the widest label decides the width of all of them.
    for (auto* button : group_.buttons())
        button->setFixedWidth(widest);

    connect(&group_, &QButtonGroup::idClicked, this, &VDSegmentedControl::segmentSelected);
}

void VDSegmentedControl::setSelectedSegment(int segment)
{
    if (auto* button = group_.button(segment))
        button->setChecked(true);
}

} // namespace vd
