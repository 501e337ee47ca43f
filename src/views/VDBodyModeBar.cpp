#include "VDBodyModeBar.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QToolButton>

namespace vd {
namespace {

constexpr VDBodyMode kModes[] = {VDBodyMode::raw, VDBodyMode::decoded, VDBodyMode::pretty, VDBodyMode::image};

} // namespace

VDBodyModeBar::VDBodyModeBar(QWidget* parent) : QWidget(parent), buttons_(new QButtonGroup(this))
{
    setAccessibleName("Body view");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(0);
    for (const VDBodyMode mode : kModes) {
        auto* button = new QToolButton;
        button->setText(titleOf(mode));
        button->setAccessibleName(titleOf(mode));
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::StrongFocus);
        buttons_->addButton(button, static_cast<int>(mode));
        layout->addWidget(button);
    }
    layout->addStretch();
    connect(buttons_, &QButtonGroup::idClicked, this, [this](int id) { emit modeChosen(static_cast<VDBodyMode>(id)); });
    hide();
}

QString VDBodyModeBar::titleOf(VDBodyMode mode)
{
    switch (mode) {
    case VDBodyMode::raw: return "Raw";
    case VDBodyMode::decoded: return "Decoded";
    case VDBodyMode::pretty: return "Pretty";
    case VDBodyMode::image: return "Image";
    }
    return {};
}

void VDBodyModeBar::setModes(const std::vector<VDBodyMode>& modes, VDBodyMode shown)
{
    for (const VDBodyMode mode : kModes) {
        QAbstractButton* button = buttons_->button(static_cast<int>(mode));
        button->setVisible(std::ranges::find(modes, mode) != modes.end());
        button->setChecked(mode == shown);
    }
    setVisible(modes.size() > 1);
}

} // namespace vd
