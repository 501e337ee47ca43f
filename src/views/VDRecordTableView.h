#pragma once

#include <span>

#include <QTableView>

#include "VDRecordColumn.h"

namespace vd {

// The table of a record list (DNS, UDP): every cell drawn by the shared table cell, rows 20 high
// with alternating backgrounds, columns that keep their order, sized and clamped as their
// columns say. A header click sorts the model (through its sort()), starting from no order, so
// rows first keep the order they were given in; a click on a column without a sort key changes
// nothing.
class VDRecordTableView : public QTableView {
    Q_OBJECT
public:
    VDRecordTableView(std::span<const VDRecordColumn> columns, QWidget* parent);

    // Also sizes the columns, which the header knows only once it has a model.
    void setModel(QAbstractItemModel* model) override;

private:
    void sortIndicatorChanged(int section, Qt::SortOrder order);
    void sectionResized(int section, int oldSize, int newSize);

    const std::span<const VDRecordColumn> columns_;
    int sortSection_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

} // namespace vd
