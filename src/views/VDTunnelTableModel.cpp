#include "VDTunnelTableModel.h"

#include <QPointer>

namespace vd {

VDTunnelTableModel::VDTunnelTableModel(std::shared_ptr<VDICONImageManager> icons, QObject* parent)
    : VDRecordTableModel(parent), iconManager_(std::move(icons))
{
}

std::shared_ptr<const VDTunnelInfo> VDTunnelTableModel::recordAt(int row) const
{
    const auto* record = rowAt(row);
    return record ? *record : nullptr;
}

QVariant VDTunnelTableModel::data(const QModelIndex& index, int role) const
{
    if (role == Qt::DecorationRole && index.column() == VDTunnelColumns::kClient) {
        const auto* record = rowAt(index.row());
        return record ? clientIcon(**record) : QVariant();
    }
    if (role == VDTableCellView::AlarmRole && index.column() == VDTunnelColumns::kCode) {
        const auto* record = rowAt(index.row());
        return record && VDTunnelColumns::failedCode(**record);
    }
    return VDRecordTableModel::data(index, role);
}

void VDTunnelTableModel::setRows(TunnelList rows)
{
    ++iconGeneration_;
    VDRecordTableModel::setRows(std::move(rows));
}

QVariant VDTunnelTableModel::clientIcon(const VDTunnelInfo& tunnel) const
{
    const std::string bundleId(tunnel.bundleIdentifier());
    Icon& icon = icons_[bundleId];
    if (icon.generation != iconGeneration_ && !icon.pending) {
        icon.generation = iconGeneration_;
        icon.pending = true;
        QPointer<VDTunnelTableModel> self(const_cast<VDTunnelTableModel*>(this));
        answering_ = true;
        iconManager_->loadICONofBundleId(bundleId, kIconSide, kIconSide, [self, bundleId](QImage image) {
            if (self)
                self->iconArrived(bundleId, std::move(image));
        });
        answering_ = false;
    }
    // Read again: an answer from memory has just been stored.
    const QPixmap& image = icons_[bundleId].image;
    return image.isNull() ? QVariant() : QVariant(image);
}

void VDTunnelTableModel::iconArrived(const std::string& bundleId, QImage image)
{
    Icon& icon = icons_[bundleId];
    icon.pending = false;
    icon.image = QPixmap::fromImage(std::move(image));
    if (answering_ || mainArray().empty())
        return;
    emit dataChanged(index(0, VDTunnelColumns::kClient), index(rowCount() - 1, VDTunnelColumns::kClient), {Qt::DecorationRole});
}

std::size_t VDTunnelTableModel::heldBytes() const
{
    std::size_t bytes = VDRecordTableModel::heldBytes() + sizeof(*this) - sizeof(VDRecordTableModel);
    for (const auto& [bundleId, icon] : icons_)
        bytes += sizeof(Icon) + bundleId.capacity() + static_cast<std::size_t>(icon.image.width() * icon.image.height() * 4);
    return bytes;
}

} // namespace vd
