#pragma once

#include <memory>
#include <span>
#include <vector>

#include <QPersistentModelIndex>
#include <QTableView>
#include <QTimer>

#include "VDRecordColumn.h"

class QMenu;

namespace vd {

class VDLayoutAutosave;

// The table of a record list (tunnels, DNS, UDP): every cell drawn by the shared table cell, rows
// 20 high with alternating backgrounds, columns that keep their order, sized and clamped as their
// columns say. A header click sorts the model (through its sort()), starting from no order, so
// rows first keep the order they were given in; a click on a column without a sort key changes
// nothing. Tab leaves the table rather than walking its cells.
//
// Each column starts at its own width, grown where its title or the rows in sight need more (never
// by reading rows out of sight), until the user sizes it. A right click on the header shows or
// hides columns; their widths, visibility and sort are remembered under the table's autosave name.
//
// The table keeps its place while its rows change: the record at the top stays at the top (and
// the view at the very start stays there, showing what arrives first), and the selection, which
// goes with its record, neither moves the current row nor scrolls.
class VDRecordTableView : public QTableView {
    Q_OBJECT
public:
    // The record at the top of the view and how much of it is scrolled out of sight, taken
    // before the rows change and put back where it was when this goes out of scope, wherever
    // the change moved it.
    class KeptPlace {
    public:
        explicit KeptPlace(VDRecordTableView& view);
        ~KeptPlace();
        KeptPlace(const KeptPlace&) = delete;
        KeptPlace& operator=(const KeptPlace&) = delete;

    private:
        VDRecordTableView& view_;
        QPersistentModelIndex top_;
        int hiddenPixels_ = 0;
    };

    VDRecordTableView(std::span<const VDRecordColumn> columns, QWidget* parent);
    ~VDRecordTableView() override;

    // Also sizes the columns, which the header knows only once it has a model.
    void setModel(QAbstractItemModel* model) override;
    [[nodiscard]] KeptPlace keepPlace() { return KeptPlace(*this); }
    // Selects the row as the only selection, leaving the current row and the scroll position.
    void selectRowInPlace(int row);
    // Restores the columns saved under the name, if any, and saves them there from now on.
    void rememberColumnsAs(const QString& autosaveName);
    // One checkable item per column, which shows or hides it: the header's menu, and a window's
    // way to the same from the keyboard. A table keeps at least one column.
    void addColumnItems(QMenu& menu);
    // Wide enough for every shown column at its width, so a window can be sized to show them.
    QSize sizeHint() const override;

signals:
    // Columns grew to fit their titles or the rows in sight; the size hint grew with them.
    void columnsGrown();

private:
    void sortIndicatorChanged(int section, Qt::SortOrder order);
    void sectionResized(int section, int oldSize, int newSize);
    void growColumnsToFit();
    int widthToFit(int section) const;
    void resizeColumn(int section, int width);
    void openColumnMenu(const QPoint& position);

    const std::span<const VDRecordColumn> columns_;
    int sortSection_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    // Columns the user has sized (or whose width was restored), which no longer grow by themselves.
    std::vector<bool> sizedByUser_;
    bool resizing_ = false;
    // New rows ask for a fit at most this often: rows in sight are measured, not every row.
    QTimer fitPause_;
    std::unique_ptr<VDLayoutAutosave> autosave_;
};

} // namespace vd
