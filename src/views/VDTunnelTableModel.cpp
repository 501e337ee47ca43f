#include "VDTunnelTableModel.h"

#include <QDateTime>
#include <QPointer>

#include "VDStatusImages.h"
#include "VDTableCellView.h"

namespace vd {
namespace {

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
    const auto sorted = sortedOrder(rows_, sortDescriptors_);
    std::vector<int> newRowOf(sorted.size());
    TunnelList rows;
    rows.reserve(sorted.size());
    for (std::size_t row = 0; row < sorted.size(); ++row) {
        newRowOf[sorted[row]] = static_cast<int>(row);
        rows.push_back(rows_[sorted[row]]);
    }
    relayout(std::move(rows), [&](int oldRow) { return newRowOf[static_cast<std::size_t>(oldRow)]; });
}

void VDTunnelTableModel::setRows(TunnelList rows)
{
    ++iconGeneration_;
    // The usual refresh: the same records in the same order, maybe with new ones after them
    // (a growing recent list). The view then only repaints and, maybe, appends.
    const std::size_t held = rows_.size();
    const bool sameStart = held <= rows.size() && std::equal(rows_.begin(), rows_.end(), rows.begin(),
                                                             [](const auto& a, const auto& b) { return a->id_() == b->id_(); });
    if (sameStart) {
        if (rows.size() > held) {
            beginInsertRows({}, static_cast<int>(held), static_cast<int>(rows.size()) - 1);
            rows_ = std::move(rows);
            endInsertRows();
        } else {
            rows_ = std::move(rows);
        }
    } else {
        // Anything else is one layout change: a filter keystroke can drop thousands of rows
        // scattered over the table, which as separate removals would cost the view one pass
        // over all rows each. Persistent indexes go to their record's new row, or are dropped
        // with it.
        std::unordered_map<std::int64_t, int> firstRows;
        if (!persistentIndexList().isEmpty()) {
            firstRows.reserve(rows.size());
            for (std::size_t row = 0; row < rows.size(); ++row)
                firstRows.try_emplace(rows[row]->id_(), static_cast<int>(row));
        }
        // A tunnel listed twice: its k-th row goes to its k-th row. Two persistent indexes must
        // never land on one place, or the model would lose track of one of them.
        const auto newRowOf = [&](int oldRow) {
            const auto id = rows_[static_cast<std::size_t>(oldRow)]->id_();
            const auto first = firstRows.find(id);
            if (first == firstRows.end())
                return -1;
            auto copies = std::count_if(rows_.begin(), rows_.begin() + oldRow, [&](const auto& t) { return t->id_() == id; });
            int row = first->second;
            while (copies > 0 && ++row < static_cast<int>(rows.size()))
                copies -= rows[static_cast<std::size_t>(row)]->id_() == id;
            return copies == 0 ? row : -1;
        };
        relayout(std::move(rows), newRowOf);
    }
    if (!rows_.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

void VDTunnelTableModel::relayout(TunnelList&& rows, const std::function<int(int)>& newRowOf)
{
    emit layoutAboutToBeChanged();
    // Every old row is looked up before the rows change.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before) {
        const int row = newRowOf(index.row());
        after.push_back(row < 0 ? QModelIndex() : this->index(row, index.column()));
    }
    rows_ = std::move(rows);
    changePersistentIndexList(before, after);
    emit layoutChanged();
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
