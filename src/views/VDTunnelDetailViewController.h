#pragma once

#include <memory>
#include <string>

#include <QWidget>

#include "data/VDTunnelInfo.h"

class QLabel;
class QVBoxLayout;

namespace vd {

class VDFindBar;
class VDFindTarget;
class VDLabel;
class VDSegmentedControl;
class VDTunnelDetailGeneralView;

// The detail pane under a tunnel list: a header naming the record's client, target and status,
// and six tabs: the key figures, the time breakdown, both header blocks and both bodies. The
// General view is kept and refilled; the view of any other tab is made when the tab is chosen
// and dropped when another one is.
class VDTunnelDetailViewController : public QWidget {
    Q_OBJECT
public:
    enum Segment { kGeneral, kTime, kRequestHeader, kResponseHeader, kRequestData, kResponseData };
    static constexpr int kIconSize = 40;
    static constexpr double kIconLoadSize = 60;

    explicit VDTunnelDetailViewController(std::string idString, QWidget* parent = nullptr);

    const std::string& idString() const { return idString_; }
    const std::shared_ptr<const VDTunnelInfo>& tunnelInfo() const { return info; }
    // Opens the pane on a record: the General tab, whichever was shown before.
    void setTunnelInfo(std::shared_ptr<const VDTunnelInfo> tunnel);
    // Shows the record in the header and tabs; a tab other than General keeps its content when
    // the record is the one already shown.
    void updateTunnelInfoAndResetDetail(std::shared_ptr<const VDTunnelInfo> tunnel);
    // A newer copy of the shown record: icon and General figures follow it; the header texts,
    // the tab states and another tab's content stay.
    void updateTunnelInfo(std::shared_ptr<const VDTunnelInfo> tunnel);
    // Shows the content of the selected tab, made anew unless it is the General view.
    void selectSegment();

    VDSegmentedControl* segmentedControl() const { return segmentedControl_; }
    VDTunnelDetailGeneralView* generalView() const { return generalView_; }
    // The view of the selected tab; none before a record was shown.
    QWidget* contentView() const;
    // Opens the find bar on the selected tab, or selects its query when it is open already.
    void openFindBar();
    VDFindBar* findBar() const { return findBar_; }
    VDLabel* processNameLabel() const { return processNameLabel_; }
    VDLabel* urlLabel() const { return urlLabel_; }
    QLabel* statusLabel() const { return statusLabel_; }
    QLabel* iconView() const { return iconView_; }

private:
    QWidget* buildTopView();
    QWidget* buildTabBar();
    void reloadIcon();
    // The search of what the selected tab shows now; none for the General figures.
    VDFindTarget* shownFindTarget() const;
    void bindFindBar();
    void focusContent();
    void findAgain(bool forward);

    const std::string idString_;
    std::shared_ptr<const VDTunnelInfo> info;
    QLabel* iconView_ = nullptr;
    VDLabel* processNameLabel_ = nullptr;
    VDLabel* urlLabel_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    VDSegmentedControl* segmentedControl_ = nullptr;
    QVBoxLayout* bottomView_ = nullptr;
    VDTunnelDetailGeneralView* generalView_;
    QWidget* tabView_ = nullptr;
    VDFindBar* findBar_;
};

} // namespace vd
