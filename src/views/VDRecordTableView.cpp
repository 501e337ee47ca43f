#include "VDRecordTableView.h"

#include <algorithm>

#include <QHeaderView>
#include <QMenu>
#include <QScrollBar>

#include "VDLayoutAutosave.h"
#include "VDListKeys.h"
#include "VDTableCellView.h"

namespace vd {
namespace {

// Rows arriving many times a second are measured for their widths about twice a second.
constexpr int kFitPauseMs = 500;
// A column grows to show its rows' texts up to this many times its own width, so one long text
// does not push every other column out of sight; the text is cut (or elided) beyond that.
constexpr int kMostGrowth = 2;

} // namespace

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
    : QTableView(parent), columns_(columns), sizedByUser_(columns.size(), false)
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
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QWidget::customContextMenuRequested, this, &VDRecordTableView::openColumnMenu);
    addListKeys(*this);

    fitPause_.setSingleShot(true);
    fitPause_.setInterval(kFitPauseMs);
    connect(&fitPause_, &QTimer::timeout, this, &VDRecordTableView::growColumnsToFit);
}

VDRecordTableView::~VDRecordTableView() = default;

void VDRecordTableView::setModel(QAbstractItemModel* model)
{
    QTableView::setModel(model);
    QHeaderView* header = horizontalHeader();
    for (std::size_t column = 0; column < columns_.size(); ++column) {
        const int section = static_cast<int>(column);
        resizeColumn(section, columns_[column].width);
        header->setSectionResizeMode(section, columns_[column].minimumWidth == 0 ? QHeaderView::Fixed : QHeaderView::Interactive);
        header->setSectionHidden(section, columns_[column].hiddenByDefault);
    }
    growColumnsToFit();
    if (!model)
        return;
    const auto askForFit = [this] {
        if (!fitPause_.isActive() && std::ranges::find(sizedByUser_, false) != sizedByUser_.end())
            fitPause_.start();
    };
    connect(model, &QAbstractItemModel::rowsInserted, this, askForFit);
    connect(model, &QAbstractItemModel::modelReset, this, askForFit);
    connect(model, &QAbstractItemModel::layoutChanged, this, askForFit);
    connect(model, &QAbstractItemModel::dataChanged, this, askForFit);
}

void VDRecordTableView::rememberColumnsAs(const QString& autosaveName)
{
    autosave_ = std::make_unique<VDLayoutAutosave>(*horizontalHeader(), autosaveName);
    if (!autosave_->restore())
        return;
    // The header shows the columns a saved layout does not know of; those added since start as
    // new columns do. A count that was not kept dates the layout from before any were added.
    const auto known = static_cast<std::size_t>(autosave_->savedColumnCount());
    for (std::size_t column = 0; column < columns_.size(); ++column) {
        if (columns_[column].hiddenByDefault && (known == 0 || column >= known))
            horizontalHeader()->setSectionHidden(static_cast<int>(column), true);
    }
    sizedByUser_.assign(columns_.size(), true);
    // The header shows the saved sort; the rows have yet to follow it.
    QHeaderView* header = horizontalHeader();
    sortIndicatorChanged(header->sortIndicatorSection(), header->sortIndicatorOrder());
}

QSize VDRecordTableView::sizeHint() const
{
    const int width = horizontalHeader()->length() + 2 * frameWidth() + verticalScrollBar()->sizeHint().width();
    return {width, QTableView::sizeHint().height()};
}

int VDRecordTableView::widthToFit(int section) const
{
    const VDRecordColumn& column = columns_[static_cast<std::size_t>(section)];
    int width = std::max(column.width, horizontalHeader()->sectionSizeHint(section));
    if (!model() || column.overflow == VDTableCellView::wrap)
        return width;
    const int first = rowAt(0);
    if (first < 0)
        return width;
    int last = rowAt(viewport()->height() - 1);
    if (last < 0)
        last = model()->rowCount() - 1;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    int content = 0;
    for (int row = first; row <= last; ++row)
        content = std::max(content, itemDelegate()->sizeHint(option, model()->index(row, section)).width());
    return std::max(width, std::min(content, kMostGrowth * column.width));
}

void VDRecordTableView::growColumnsToFit()
{
    bool grown = false;
    for (std::size_t column = 0; column < columns_.size(); ++column) {
        const int section = static_cast<int>(column);
        if (sizedByUser_[column] || columns_[column].minimumWidth == 0 || horizontalHeader()->isSectionHidden(section))
            continue;
        if (const int width = widthToFit(section); width > horizontalHeader()->sectionSize(section)) {
            resizeColumn(section, width);
            grown = true;
        }
    }
    if (grown) {
        updateGeometry();
        emit columnsGrown();
    }
}

void VDRecordTableView::resizeColumn(int section, int width)
{
    const bool wasResizing = std::exchange(resizing_, true);
    horizontalHeader()->resizeSection(section, width);
    resizing_ = wasResizing;
}

void VDRecordTableView::openColumnMenu(const QPoint& position)
{
    auto* menu = new QMenu(this);
    menu->setObjectName("columnMenu");
    menu->setAttribute(Qt::WA_DeleteOnClose);
    addColumnItems(*menu);
    menu->popup(horizontalHeader()->mapToGlobal(position));
}

void VDRecordTableView::addColumnItems(QMenu& menu)
{
    QHeaderView* header = horizontalHeader();
    const int shown = header->count() - header->hiddenSectionCount();
    for (int section = 0; section < header->count(); ++section) {
        const QString title = model() ? model()->headerData(section, Qt::Horizontal, Qt::AccessibleTextRole).toString() : QString();
        QAction* action = menu.addAction(title);
        action->setCheckable(true);
        action->setChecked(!header->isSectionHidden(section));
        action->setEnabled(header->isSectionHidden(section) || shown > 1);
        connect(action, &QAction::toggled, this, [header, section](bool show) { header->setSectionHidden(section, !show); });
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
    if (section < 0 || static_cast<std::size_t>(section) >= columns_.size())
        return;
    const auto column = static_cast<std::size_t>(section);
    // Hiding a column sizes it to nothing; that is no choice of width.
    if (newSize == 0 && horizontalHeader()->isSectionHidden(section))
        return;
    if (!resizing_)
        sizedByUser_[column] = true;
    // The header has one minimum for all sections; each column keeps its own.
    if (newSize < columns_[column].minimumWidth)
        resizeColumn(section, columns_[column].minimumWidth);
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
