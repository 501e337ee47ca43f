#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include <QAbstractTableModel>
#include <QPixmap>

#include "GuiThread.h"
#include "VDColumnSorting.h"
#include "VDRecordColumn.h"
#include "VDTableCellView.h"

namespace vd {

// The rows of a record table (`mainArray`: filtered and sorted copies nobody else changes) behind
// a fixed set of columns. `Columns` says what the rows are and how each column shows and sorts
// one of them:
//   using Row; static constexpr std::array<VDRecordColumn, N> kColumns; static constexpr bool
//   kSelectable; static QString text(const Row&, int); static QPixmap image(const Row&, int);
//   forSortKey (see the column sorting); static Key key(const Row&), the record's identity
//   across reports (hashable).
// Cell texts are made only when the view asks for a visible cell; the model keeps no text per row.
//
// New rows never reset the model: records added before or after an unchanged list arrive with
// rowsInserted, any other change is one layout change that moves persistent indexes to their
// records' new rows, and the values refresh with one ranged dataChanged. So the selection stays
// on its record and a refresh of thousands of rows costs the view only its visible cells.
template <typename Columns>
class VDRecordTableModel : public QAbstractTableModel {
public:
    using Row = typename Columns::Row;
    using Key = decltype(Columns::key(std::declval<const Row&>()));
    static constexpr int kColumnCount = static_cast<int>(Columns::kColumns.size());
    // The typed key a column sorts by (a number, a date as seconds, or a text), for views and
    // proxies that sort or filter through the model's roles.
    static constexpr int SortKeyRole = Qt::UserRole + 1;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : static_cast<int>(rows_.size()); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : kColumnCount; }

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override
    {
        const Row* row = index.isValid() ? rowAt(index.row()) : nullptr;
        if (!row)
            return {};
        const auto& column = Columns::kColumns[static_cast<std::size_t>(index.column())];
        switch (role) {
        case Qt::DisplayRole:
            return column.layout == VDTableCellView::imageOnly ? QVariant() : QVariant(Columns::text(*row, index.column()));
        case Qt::DecorationRole: {
            // Asked for every cell drawn: text-only cells answer without making a pixmap.
            if (column.layout != VDTableCellView::imageOnly && column.layout != VDTableCellView::imageAndText)
                return {};
            const QPixmap image = Columns::image(*row, index.column());
            return image.isNull() ? QVariant() : QVariant(image);
        }
        // Image cells read as the words their images stand for.
        case Qt::AccessibleTextRole: return Columns::text(*row, index.column());
        case VDTableCellView::LayoutRole: return static_cast<int>(column.layout);
        case VDTableCellView::WrapRole: return column.overflow == VDTableCellView::wrap;
        case VDTableCellView::ElideRole:
            return column.overflow == VDTableCellView::elideMiddle ? QVariant(static_cast<int>(Qt::ElideMiddle)) : QVariant();
        case SortKeyRole: {
            QVariant key;
            Columns::forSortKey(index.column(), [&](auto read) { key = variantOf(read(*row)); });
            return key;
        }
        default: return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override
    {
        if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount)
            return {};
        switch (role) {
        case Qt::DisplayRole: return QString::fromLatin1(Columns::kColumns[static_cast<std::size_t>(section)].title);
        // The only untitled columns are the status images.
        case Qt::AccessibleTextRole: {
            const char* title = Columns::kColumns[static_cast<std::size_t>(section)].title;
            return QString::fromLatin1(*title ? title : "Status");
        }
        // Every column sorts ascending on its first click.
        case Qt::InitialSortOrderRole: return static_cast<int>(Qt::AscendingOrder);
        default: return {};
        }
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        if (!index.isValid())
            return Qt::NoItemFlags;
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
        if constexpr (Columns::kSelectable)
            flags |= Qt::ItemIsSelectable;
        return flags;
    }

    // A header click: the column becomes the first sort key, the earlier ones break its ties,
    // and the rows are sorted in place; persistent indexes (the selection) go with their rows.
    // Columns without a sort key are ignored.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override
    {
        VD_ASSERT_ON_GUI_THREAD(this);
        if (column < 0 || column >= kColumnCount || !Columns::kColumns[static_cast<std::size_t>(column)].sortable)
            return;
        sortDescriptors_ = withPrimaryColumn(std::move(sortDescriptors_), {column, order == Qt::AscendingOrder});
        const auto permutation = rowOrderByDescriptors();
        std::vector<int> newRowOf(permutation.size());
        for (std::size_t row = 0; row < permutation.size(); ++row)
            newRowOf[permutation[row]] = static_cast<int>(row);
        // The rows are moved, not copied: copies would count every record up and down again.
        const auto permuted = [&] {
            std::vector<Row> rows;
            rows.reserve(permutation.size());
            for (const auto from : permutation)
                rows.push_back(std::move(rows_[from]));
            return rows;
        };
        relayout(permuted, [&](int oldRow) { return newRowOf[static_cast<std::size_t>(oldRow)]; },
                 QAbstractItemModel::VerticalSortHint);
    }

    // `rows` in the order chosen in the header; unchanged while none is chosen.
    std::vector<Row> sorted(std::vector<Row> rows) const
    {
        if (sortDescriptors_.empty())
            return rows;
        std::vector<Row> sortedRows;
        sortedRows.reserve(rows.size());
        for (const auto row : sortedOrder<Columns>(rows, sortDescriptors_))
            sortedRows.push_back(std::move(rows[row]));
        return sortedRows;
    }

    // Replaces the rows, keeping every persistent index (the selection, the view's top row) on
    // its record.
    virtual void setRows(std::vector<Row> rows)
    {
        VD_ASSERT_ON_GUI_THREAD(this);
        keptKeys_.clear();
        if (!insertAround(rows)) {
            // Anything else is one layout change: a filter keystroke can drop thousands of rows
            // scattered over the table, which as separate removals would cost the view one pass
            // over all rows each.
            relayout([&] { return std::move(rows); }, newRowsByKey(rows));
        }
        if (!rows_.empty())
            emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
    }

    const std::vector<Row>& mainArray() const { return rows_; }
    const ColumnSortDescriptors& sortDescriptors() const { return sortDescriptors_; }
    // Null past the end of the rows.
    const Row* rowAt(int row) const
    {
        return row >= 0 && static_cast<std::size_t>(row) < rows_.size() ? &rows_[static_cast<std::size_t>(row)] : nullptr;
    }
    // The first row of the record with this identity, or -1.
    int rowOfKey(const Key& key) const
    {
        const auto found = std::find_if(rows_.begin(), rows_.end(), [&](const Row& row) { return Columns::key(row) == key; });
        return found == rows_.end() ? -1 : static_cast<int>(found - rows_.begin());
    }

    // Bytes the model itself holds; records the rows share with others are not counted.
    virtual std::size_t heldBytes() const
    {
        std::size_t bytes = sizeof(*this) + rows_.capacity() * sizeof(Row) + sortDescriptors_.capacity() * sizeof(ColumnSortDescriptor);
        for (const auto& [column, keys] : keptKeys_)
            bytes += keys.heldBytes();
        return bytes;
    }

private:
    // Keys read for the first columns of a header click are kept for the next click while the
    // rows stay the rows: the records do not change, and reading a key out of each of a hundred
    // thousand records costs more than sorting them. A column whose keys change with time (an
    // open connection's duration) is read again each time.
    static constexpr std::size_t kKeptKeyColumns = 2;

    static bool keepsSortKeys(int column)
    {
        if constexpr (requires { Columns::sortKeyChangesWithTime(column); })
            return !Columns::sortKeyChangesWithTime(column);
        return false;
    }

    // The order of the rows by the sort descriptors; kept keys follow their rows into it.
    std::vector<std::uint32_t> rowOrderByDescriptors()
    {
        std::erase_if(keptKeys_, [&](const auto& kept) {
            const auto end = sortDescriptors_.begin() + static_cast<std::ptrdiff_t>(std::min(kKeptKeyColumns, sortDescriptors_.size()));
            return std::none_of(sortDescriptors_.begin(), end, [&](const ColumnSortDescriptor& d) { return d.column == kept.first; });
        });
        std::vector<SortKeyColumn> read;
        read.reserve(sortDescriptors_.size());
        std::vector<const SortKeyColumn*> keys;
        for (std::size_t i = 0; i < sortDescriptors_.size() && rows_.size() > 1; ++i) {
            const ColumnSortDescriptor& descriptor = sortDescriptors_[i];
            if (i >= kKeptKeyColumns || !keepsSortKeys(descriptor.column)) {
                keys.push_back(&read.emplace_back(readSortKeys<Columns>(rows_, descriptor)));
                continue;
            }
            auto kept = keptKeys_.find(descriptor.column);
            if (kept == keptKeys_.end())
                kept = keptKeys_.emplace(descriptor.column, readSortKeys<Columns>(rows_, descriptor)).first;
            kept->second.setAscending(descriptor.ascending);
            keys.push_back(&kept->second);
        }
        auto order = stableOrder(rows_.size(), keys);
        for (auto& [column, kept] : keptKeys_)
            kept.reorder(order);
        return order;
    }

    static QVariant variantOf(std::int64_t key) { return QVariant::fromValue<qint64>(key); }
    static QVariant variantOf(double key) { return key; }
    static QVariant variantOf(std::string_view key) { return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())); }

    static bool sameRecord(const Row& a, const Row& b) { return Columns::key(a) == Columns::key(b); }

    // The usual refresh: the same records in the same order, maybe with new ones before them (a
    // list kept newest first) or after them (a growing recent list). The view then only
    // repaints and, maybe, inserts. False when the rows changed otherwise.
    bool insertAround(std::vector<Row>& rows)
    {
        const std::size_t held = rows_.size();
        if (held > rows.size())
            return false;
        std::size_t before = 0;
        if (held > 0) {
            const auto lastStart = rows.begin() + static_cast<std::ptrdiff_t>(rows.size() - held);
            const auto start = std::find_if(rows.begin(), lastStart + 1, [&](const Row& row) { return sameRecord(row, rows_.front()); });
            if (start == lastStart + 1 || !std::equal(rows_.begin(), rows_.end(), start, sameRecord))
                return false;
            before = static_cast<std::size_t>(start - rows.begin());
        }
        if (before > 0) {
            beginInsertRows({}, 0, static_cast<int>(before) - 1);
            rows_.insert(rows_.begin(), rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(before));
            endInsertRows();
        }
        if (rows.size() > rows_.size()) {
            beginInsertRows({}, static_cast<int>(rows_.size()), static_cast<int>(rows.size()) - 1);
            rows_ = std::move(rows);
            endInsertRows();
        } else {
            rows_ = std::move(rows);
        }
        return true;
    }

    // Where each current row's record is in `rows`, by identity. A record listed twice: its
    // k-th row goes to its k-th row, since two persistent indexes must never land on one place,
    // or the model would lose track of one of them. Asked only while both lists are whole.
    auto newRowsByKey(const std::vector<Row>& rows) const
    {
        std::unordered_map<Key, int> firstRows;
        // Without persistent indexes nothing is asked.
        if (!persistentIndexList().isEmpty()) {
            firstRows.reserve(rows.size());
            for (std::size_t row = 0; row < rows.size(); ++row)
                firstRows.try_emplace(Columns::key(rows[row]), static_cast<int>(row));
        }
        return [this, &rows, firstRows = std::move(firstRows)](int oldRow) {
            const Key key = Columns::key(rows_[static_cast<std::size_t>(oldRow)]);
            const auto first = firstRows.find(key);
            if (first == firstRows.end())
                return -1;
            auto copies = std::count_if(rows_.begin(), rows_.begin() + oldRow, [&](const Row& r) { return Columns::key(r) == key; });
            int row = first->second;
            while (copies > 0 && ++row < static_cast<int>(rows.size()))
                copies -= Columns::key(rows[static_cast<std::size_t>(row)]) == key;
            return copies == 0 ? row : -1;
        };
    }

    // Replaces the rows with what `newRows` makes, in one layout change; `newRowOf` tells where an
    // old row's record went (-1: gone), and is asked before the rows change.
    template <typename NewRows, typename NewRowOf>
    void relayout(const NewRows& newRows, const NewRowOf& newRowOf,
                  QAbstractItemModel::LayoutChangeHint hint = QAbstractItemModel::NoLayoutChangeHint)
    {
        emit layoutAboutToBeChanged({}, hint);
        const QModelIndexList before = persistentIndexList();
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& index : before) {
            const int row = newRowOf(index.row());
            after.push_back(row < 0 ? QModelIndex() : this->index(row, index.column()));
        }
        rows_ = newRows();
        changePersistentIndexList(before, after);
        emit layoutChanged({}, hint);
    }

    std::vector<Row> rows_;
    ColumnSortDescriptors sortDescriptors_;
    std::map<int, SortKeyColumn> keptKeys_;
};

} // namespace vd
