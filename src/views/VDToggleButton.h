#pragma once

#include <QPushButton>

namespace vd {

// A push button for a service switch that keeps the switch's state in its tag: 1 on, -1 off,
// 0 before it was first told. Its title says what a click will do.
class VDToggleButton : public QPushButton {
    Q_OBJECT
public:
    VDToggleButton(const QString& initialTitle, QString onTitle, QString offTitle, QWidget* parent = nullptr);

    int tag() const { return tag_; }
    void setState(bool on);
    // The state a click asks for: on exactly when the switch is off now.
    bool nextState() const { return tag_ == -1; }

private:
    const QString onTitle_;
    const QString offTitle_;
    int tag_ = 0;
};

} // namespace vd
