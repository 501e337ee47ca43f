#pragma once

#include <QWidget>

namespace vd {

class VDSectionView;
class VDTunnelInfo;

// The General tab: the key figures of one record in seven titled boxes, four in the first row
// and three in the second.
class VDTunnelDetailGeneralView : public QWidget {
    Q_OBJECT
public:
    explicit VDTunnelDetailGeneralView(QWidget* parent = nullptr);

    void setTunnelInfo(const VDTunnelInfo& info);

    VDSectionView* httpSection() const { return httpSection_; }
    VDSectionView* bandwidthSection() const { return bandwidthSection_; }
    VDSectionView* policySection() const { return policySection_; }
    VDSectionView* otherSection() const { return otherSection_; }
    VDSectionView* trafficSection() const { return trafficSection_; }
    VDSectionView* speedSection() const { return speedSection_; }
    VDSectionView* ipSection() const { return ipSection_; }

private:
    VDSectionView* httpSection_;
    VDSectionView* bandwidthSection_;
    VDSectionView* policySection_;
    VDSectionView* otherSection_;
    VDSectionView* trafficSection_;
    VDSectionView* speedSection_;
    VDSectionView* ipSection_;
};

} // namespace vd
