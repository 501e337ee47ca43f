#include "VDTunnelTableModel.h"

#include <QDateTime>
#include <QPointer>

#include "VDStatusImages.h"
#include "VDTableCellView.h"

namespace vd {
namespace {

using RowKey = VDTunnelTableModel::RowKey;
using RowPositions = VDTunnelTableModel::RowPositions;

RowPositions positionsOf(const std::vector<RowKey>& keys)
{
    RowPositions positions;
    positions.reserve(keys.size());
    for (std::uint32_t row = 0; row < keys.size(); ++row)
        positions.emplace(keys[row], row);
    return positions;
}

std::vector<RowKey> keysOf(const TunnelList& rows)
{
    std::unordered_map<std::int64_t, std::uint32_t> seen;
    std::vector<RowKey> keys;
    keys.reserve(rows.size());
    for (const auto& row : rows) {
        const auto id = row->id_();
        keys.push_back({id, seen[id]++});
    }
    return keys;
}

QString text(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

VDTunnelTableModel::VDTunnelTableModel(std::shared_ptr<VDICONImageManager> icons, QObject* parent)
    : QAbstractTableModel(parent), iconManager_(std::move(icons))
{
}

int VDTunnelTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int VDTunnelTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : tunnelcolumn::kCount;
}

std::shared_ptr<const VDTunnelInfo> VDTunnelTableModel::recordAt(int row) const
{
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size())
        return nullptr;
    return rows_[static_cast<std::size_t>(row)];
}

int VDTunnelTableModel::rowOfId(std::int64_t id) const
{
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        if (rows_[row]->id_() == id)
            return static_cast<int>(row);
    }
    return -1;
}

QVariant VDTunnelTableModel::data(const QModelIndex& index, int role) const
{
    const auto record = index.isValid() ? recordAt(index.row()) : nullptr;
    if (!record)
        return {};
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return column == tunnelcolumn::kStatus ? QVariant() : QVariant(text(tunnelCellText(*record, column)));
    case VDTableCellView::LayoutRole: return static_cast<int>(kTunnelColumns[static_cast<std::size_t>(column)].layout);
    case Qt::DecorationRole:
        if (column == tunnelcolumn::kStatus) {
            const QPixmap image = VDStatusImages::forStatus(record->status());
            return image.isNull() ? QVariant() : QVariant(image);
        }
        return column == tunnelcolumn::kClient ? clientIcon(*record) : QVariant();
    case SortKeyRole: return sortKeyOf(*record, column);
    default: return {};
    }
}

QVariant VDTunnelTableModel::sortKeyOf(const VDTunnelInfo& tunnel, int column) const
{
    const auto& key = kTunnelColumns[static_cast<std::size_t>(column)].sortKey;
    if (!key)
        return {};
    switch (*key) {
    case TunnelSortKey::id_: return QVariant::fromValue<qint64>(tunnel.id_());
    case TunnelSortKey::startTime: return tunnel.startTime();
    case TunnelSortKey::processId: return QVariant::fromValue<qint64>(tunnel.processId());
    case TunnelSortKey::status: return QVariant::fromValue<qint64>(static_cast<qint64>(tunnel.status()));
    case TunnelSortKey::policyName: return text(tunnel.policyName());
    case TunnelSortKey::tx: return QVariant::fromValue<qint64>(tunnel.tx());
    case TunnelSortKey::rx: return QVariant::fromValue<qint64>(tunnel.rx());
    case TunnelSortKey::duration: return tunnel.duration();
    case TunnelSortKey::method: return QString::fromStdString(tunnel.method());
    case TunnelSortKey::host: return text(tunnel.host());
    }
    return {};
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
    if (answering_ || rows_.empty())
        return;
    emit dataChanged(index(0, tunnelcolumn::kClient), index(rowCount() - 1, tunnelcolumn::kClient), {Qt::DecorationRole});
}

QVariant VDTunnelTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= tunnelcolumn::kCount)
        return {};
    const auto& column = kTunnelColumns[static_cast<std::size_t>(section)];
    switch (role) {
    case Qt::DisplayRole: return QString::fromLatin1(column.title);
    // Every column sorts ascending on its first click.
    case Qt::InitialSortOrderRole: return static_cast<int>(Qt::AscendingOrder);
    default: return {};
    }
}

Qt::ItemFlags VDTunnelTableModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}

void VDTunnelTableModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= tunnelcolumn::kCount)
        return;
    const auto& key = kTunnelColumns[static_cast<std::size_t>(column)].sortKey;
    if (!key)
        return;
    sortDescriptors_ = withPrimary(std::move(sortDescriptors_), {*key, order == Qt::AscendingOrder});
    TunnelList sorted = rows_;
    sortTunnels(sorted, sortDescriptors_);
    const auto sortedKeys = keysOf(sorted);
    moveRowsTo(std::move(sorted), keysOf(rows_), sortedKeys, positionsOf(sortedKeys));
}

// Rows holding the same records in another order: one layout change that carries every
// persistent index to its record's new row.
void VDTunnelTableModel::moveRowsTo(TunnelList rows, const std::vector<RowKey>& oldKeys, const std::vector<RowKey>& newKeys,
                                    const RowPositions& target)
{
    if (oldKeys == newKeys) {
        rows_ = std::move(rows);
        return;
    }

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before) {
        const auto row = target.at(oldKeys[static_cast<std::size_t>(index.row())]);
        after.push_back(this->index(static_cast<int>(row), index.column()));
    }
    changePersistentIndexList(before, after);
    rows_ = std::move(rows);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void VDTunnelTableModel::setRows(TunnelList rows)
{
    ++iconGeneration_;
    const auto newKeys = keysOf(rows);
    const auto newPositions = positionsOf(newKeys);

    // Records that left, run by run from the end, so the rows before a run keep their numbers.
    auto oldKeys = keysOf(rows_);
    std::vector<bool> kept(rows.size(), false);
    const auto stays = [&](int row) {
        const auto found = newPositions.find(oldKeys[static_cast<std::size_t>(row)]);
        if (found == newPositions.end())
            return false;
        kept[found->second] = true;
        return true;
    };
    for (int last = static_cast<int>(oldKeys.size()) - 1; last >= 0;) {
        if (stays(last)) {
            --last;
            continue;
        }
        int first = last;
        while (first > 0 && !stays(first - 1))
            --first;
        beginRemoveRows({}, first, last);
        rows_.erase(rows_.begin() + first, rows_.begin() + last + 1);
        oldKeys.erase(oldKeys.begin() + first, oldKeys.begin() + last + 1);
        endRemoveRows();
        last = first - 1;
    }

    // Records that arrived, appended in one go; the order is set right below.
    TunnelList arrived;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (!kept[row]) {
            arrived.push_back(rows[row]);
            oldKeys.push_back(newKeys[row]);
        }
    }
    if (!arrived.empty()) {
        const int first = rowCount();
        beginInsertRows({}, first, first + static_cast<int>(arrived.size()) - 1);
        rows_.insert(rows_.end(), arrived.begin(), arrived.end());
        endInsertRows();
    }

    // Same records now; the new copies take their places in the new order.
    moveRowsTo(std::move(rows), oldKeys, newKeys, newPositions);
    if (!rows_.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

std::size_t VDTunnelTableModel::heldBytes() const
{
    std::size_t bytes = sizeof(*this) + rows_.capacity() * sizeof(TunnelList::value_type) +
                        sortDescriptors_.capacity() * sizeof(TunnelSortDescriptor);
    for (const auto& [bundleId, icon] : icons_)
        bytes += sizeof(Icon) + bundleId.capacity() + static_cast<std::size_t>(icon.image.width() * icon.image.height() * 4);
    return bytes;
}

} // namespace vd
