#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include <QPixmap>

#include "VDRecordTableModel.h"
#include "VDTunnelColumns.h"
#include "data/VDICONImageManager.h"
#include "data/VDRecordLists.h"

namespace vd {

// The rows of a tunnel table, with the client column's icons from the icon cache. Icons are
// kept by bundle id, so an icon that arrives late can only show on rows of the bundle it was
// asked for, wherever those rows moved meanwhile.
class VDTunnelTableModel : public VDRecordTableModel<VDTunnelColumns> {
public:
    // Client icons are asked for at this size and drawn at half of it.
    static constexpr double kIconSide = 32;

    explicit VDTunnelTableModel(std::shared_ptr<VDICONImageManager> icons = VDICONImageManager::sharedInstance(),
                                QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Each reload asks for the icons again (answered from the cache's memory), which picks up
    // an icon that arrived from the service since.
    void setRows(TunnelList rows) override;
    // Null past the end of the rows.
    std::shared_ptr<const VDTunnelInfo> recordAt(int row) const;
    // Rows and icons; the records are shared and not counted.
    std::size_t heldBytes() const override;

private:
    struct Icon {
        QPixmap image;
        std::uint64_t generation = 0;
        bool pending = false;
    };
    QVariant clientIcon(const VDTunnelInfo& tunnel) const;
    void iconArrived(const std::string& bundleId, QImage image);

    const std::shared_ptr<VDICONImageManager> iconManager_;
    mutable std::unordered_map<std::string, Icon> icons_;
    std::uint64_t iconGeneration_ = 1;
    // The cache answers from memory at once, inside data(), where no signal may be sent.
    mutable bool answering_ = false;
};

} // namespace vd
