#pragma once

#include <memory>

#include <QWidget>

#include "data/VDTunnelInfo.h"

class QLabel;

namespace vd {

// The detail pane under a tunnel list. For now it names the record it shows (its id and
// server); the figures, headers and bodies come with the pane's tabs.
class VDTunnelDetailViewController : public QWidget {
    Q_OBJECT
public:
    explicit VDTunnelDetailViewController(std::string idString, QWidget* parent = nullptr);

    const std::string& idString() const { return idString_; }
    const std::shared_ptr<const VDTunnelInfo>& tunnelInfo() const { return tunnelInfo_; }
    // Shows another record, from the start.
    void setTunnelInfo(std::shared_ptr<const VDTunnelInfo> tunnel);
    // A newer copy of the shown record: refreshed in place.
    void updateTunnelInfo(std::shared_ptr<const VDTunnelInfo> tunnel);

private:
    void display(std::shared_ptr<const VDTunnelInfo> tunnel);

    const std::string idString_;
    std::shared_ptr<const VDTunnelInfo> tunnelInfo_;
    QLabel* title_;
    QLabel* server_;
};

} // namespace vd
