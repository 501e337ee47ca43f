#pragma once

#include <cstdint>
#include <vector>

#include <QAbstractTableModel>
#include <QPixmap>

#include "VDColumnSorting.h"
#include "VDRecordColumn.h"
#include "VDTableCellView.h"

namespace vd {

// The rows of a record table (`mainArray`: filtered and sorted copies nobody else changes) behind
// a fixed set of columns. `Columns` says what the rows are and how each column shows and sorts
// one of them:
//   using Row; static constexpr std::array<VDRecordColumn, N> kColumns; static constexpr bool
//   kSelectable; static QString text(const Row&, int); static QPixmap image(const Row&, int);
//   static SortValue sortValue(const Row&, int).
// Cell texts are made only when the view asks for a visible cell.
template <typename Columns>
class VDRecordTableModel : public QAbstractTableModel {
public:
    using Row = typename Columns::Row;
    static constexpr int kColumnCount = static_cast<int>(Columns::kColumns.size());

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
            const QPixmap image = Columns::image(*row, index.column());
            return image.isNull() ? QVariant() : QVariant(image);
        }
        case VDTableCellView::LayoutRole: return static_cast<int>(column.layout);
        case VDTableCellView::WrapRole: return column.wraps;
        default: return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override
    {
        if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount)
            return {};
        switch (role) {
        case Qt::DisplayRole: return QString::fromLatin1(Columns::kColumns[static_cast<std::size_t>(section)].title);
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
        if (column < 0 || column >= kColumnCount || !Columns::kColumns[static_cast<std::size_t>(column)].sortable)
            return;
        sortDescriptors_ = withPrimaryColumn(std::move(sortDescriptors_), {column, order == Qt::AscendingOrder});
        const auto permutation = sortedOrder(rows_);
        std::vector<int> newRowOf(permutation.size());
        std::vector<Row> rows;
        rows.reserve(permutation.size());
        for (std::size_t row = 0; row < permutation.size(); ++row) {
            newRowOf[permutation[row]] = static_cast<int>(row);
            rows.push_back(rows_[permutation[row]]);
        }
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const QModelIndexList before = persistentIndexList();
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& index : before)
            after.push_back(this->index(newRowOf[static_cast<std::size_t>(index.row())], index.column()));
        rows_ = std::move(rows);
        changePersistentIndexList(before, after);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    // `rows` in the order chosen in the header; unchanged while none is chosen.
    std::vector<Row> sorted(std::vector<Row> rows) const
    {
        if (sortDescriptors_.empty())
            return rows;
        std::vector<Row> sortedRows;
        sortedRows.reserve(rows.size());
        for (const auto row : sortedOrder(rows))
            sortedRows.push_back(std::move(rows[row]));
        return sortedRows;
    }

    // Replaces every row. The view's selection goes with the old rows; a list that keeps one
    // selects again by what it remembers of the record.
    void setRows(std::vector<Row> rows)
    {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }

    const std::vector<Row>& mainArray() const { return rows_; }
    const ColumnSortDescriptors& sortDescriptors() const { return sortDescriptors_; }
    // Null past the end of the rows.
    const Row* rowAt(int row) const
    {
        return row >= 0 && static_cast<std::size_t>(row) < rows_.size() ? &rows_[static_cast<std::size_t>(row)] : nullptr;
    }

private:
    std::vector<std::uint32_t> sortedOrder(const std::vector<Row>& rows) const
    {
        return sortedOrderOf(rows, sortDescriptors_, [](const Row& row, int column) { return Columns::sortValue(row, column); });
    }

    std::vector<Row> rows_;
    ColumnSortDescriptors sortDescriptors_;
};

} // namespace vd
