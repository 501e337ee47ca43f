#include "VDRecordTableView.h"

#include <QHeaderView>
#include <QScrollBar>

#include "VDTableCellView.h"

namespace vd {

VDRecordTableView::KeptPlace::KeptPlace(VDRecordTableView& view) : view_(view)
{
    const int scrolled = view.verticalScrollBar()->value();
    const int row = view.rowAt(0);
    if (scrolled == 0 || row < 0 || !view.model())
        return;
    top_ = view.model()->index(row, 0);
    hiddenPixels_ = scrolled - view.verticalHeader()->sectionPosition(row);
}

VDRecordTableView::KeptPlace::~KeptPlace()
{
    if (!top_.isValid())
        return;
    const int position = view_.verticalHeader()->sectionPosition(top_.row()) + hiddenPixels_;
    if (view_.verticalScrollBar()->value() == position)
        return;
    // The scroll range must know rows that have only just arrived before it can reach them.
    view_.updateGeometries();
    view_.verticalScrollBar()->setValue(position);
}

VDRecordTableView::VDRecordTableView(std::span<const VDRecordColumn> columns, QWidget* parent)
    : QTableView(parent), columns_(columns)
{
    setItemDelegate(new VDTableCellView(this));
    setAlternatingRowColors(true);
    // The cell draws the vertical grid lines; rows are told apart by their backgrounds.
    setShowGrid(false);
    setWordWrap(false);
    setTabKeyNavigation(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // A place kept across changes of rows is a pixel offset, also within rows of many lines.
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);

    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setMinimumSectionSize(VDTableCellView::kRowHeight);
    rows->setDefaultSectionSize(VDTableCellView::kRowHeight);
    rows->setSectionResizeMode(QHeaderView::Fixed);

    QHeaderView* header = horizontalHeader();
    header->setSectionsMovable(false);
    header->setStretchLastSection(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setSortIndicatorShown(true);
    header->setSectionsClickable(true);
    connect(header, &QHeaderView::sortIndicatorChanged, this, &VDRecordTableView::sortIndicatorChanged);
    connect(header, &QHeaderView::sectionResized, this, &VDRecordTableView::sectionResized);
}

void VDRecordTableView::setModel(QAbstractItemModel* model)
{
    QTableView::setModel(model);
    QHeaderView* header = horizontalHeader();
    for (std::size_t column = 0; column < columns_.size(); ++column) {
        const int section = static_cast<int>(column);
        header->resizeSection(section, columns_[column].width);
        header->setSectionResizeMode(section, columns_[column].minimumWidth == 0 ? QHeaderView::Fixed : QHeaderView::Interactive);
    }
}

void VDRecordTableView::selectRowInPlace(int row)
{
    const QModelIndex index = model() ? model()->index(row, 0) : QModelIndex();
    if (index.isValid())
        selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void VDRecordTableView::sectionResized(int section, int, int newSize)
{
    // The header has one minimum for all sections; each column keeps its own.
    if (section < 0 || static_cast<std::size_t>(section) >= columns_.size())
        return;
    const int minimum = columns_[static_cast<std::size_t>(section)].minimumWidth;
    if (newSize < minimum)
        horizontalHeader()->resizeSection(section, minimum);
}

void VDRecordTableView::sortIndicatorChanged(int section, Qt::SortOrder order)
{
    if (section < 0 || static_cast<std::size_t>(section) >= columns_.size() || !columns_[static_cast<std::size_t>(section)].sortable) {
        // The order and its indicator stay as they were.
        const QSignalBlocker quiet(horizontalHeader());
        horizontalHeader()->setSortIndicator(sortSection_, sortOrder_);
        return;
    }
    sortSection_ = section;
    sortOrder_ = order;
    if (model()) {
        const auto place = keepPlace();
        model()->sort(section, order);
    }
}

} // namespace vd
