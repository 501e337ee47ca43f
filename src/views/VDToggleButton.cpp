#include "VDToggleButton.h"

namespace vd {

VDToggleButton::VDToggleButton(const QString& initialTitle, QString onTitle, QString offTitle, QWidget* parent)
    : QPushButton(initialTitle, parent), onTitle_(std::move(onTitle)), offTitle_(std::move(offTitle))
{
}

void VDToggleButton::setState(bool on)
{
    tag_ = on ? 1 : -1;
    setText(on ? onTitle_ : offTitle_);
}

} // namespace vd
