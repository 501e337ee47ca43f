#pragma once

#include <QWidget>

#include "platform/NotificationCenter.h"

class QPushButton;
class QToolButton;
class QHBoxLayout;

namespace vd {

class VDToggleButton;
class VDToolStripDelegate;

// The thin strip between a tunnel list and its detail pane: the section's buttons from the left
// ("Clean" where the section has it, "Reload", the traffic-recording and MitM switches) and the
// button that folds the detail pane away at the right. The switches show the processor's state
// each time the strip is shown and when the service reports its state after a login; a click
// shows the asked-for state at once, without waiting for the service.
class VDBaseToolViewController : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 30;

    // Not owned; the owner clears it before it goes away. Without one, clicks do nothing.
    void setDelegate(VDToolStripDelegate* delegate) { delegate_ = delegate; }

    QToolButton* collapseButton() const { return collapseButton_; }
    void hideCollapseButton(bool hide);
    VDToggleButton* trafficButton() const { return trafficButton_; }
    VDToggleButton* mitmButton() const { return mitmButton_; }

protected:
    VDBaseToolViewController(bool withClean, QWidget* parent);
    void showEvent(QShowEvent* event) override;

private:
    QPushButton* addButton(const QString& title, const QString& name);
    void readSwitchStates();
    void collapseClicked();
    void switchClicked(VDToggleButton& button, void (VDToolStripDelegate::*enable)(bool));

    VDToolStripDelegate* delegate_ = nullptr;
    QHBoxLayout* layout_;
    VDToggleButton* trafficButton_ = nullptr;
    VDToggleButton* mitmButton_ = nullptr;
    QToolButton* collapseButton_ = nullptr;
    ObservationToken serviceInfoToken_;
};

} // namespace vd
