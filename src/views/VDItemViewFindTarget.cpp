#include "VDItemViewFindTarget.h"

#include <QAbstractItemView>

namespace vd {
namespace {

QModelIndex cellAt(const QAbstractItemModel& model, std::int64_t cell)
{
    const int columns = model.columnCount();
    return model.index(static_cast<int>(cell / columns), static_cast<int>(cell % columns));
}

} // namespace

VDItemViewFindTarget::VDItemViewFindTarget(QAbstractItemView& view) : VDRangeFindTarget(&view), view_(view)
{
    const QAbstractItemModel* model = view.model();
    connect(model, &QAbstractItemModel::modelReset, this, &VDItemViewFindTarget::contentWasReplaced);
    connect(model, &QAbstractItemModel::layoutChanged, this, &VDItemViewFindTarget::contentWasReplaced);
    connect(model, &QAbstractItemModel::rowsInserted, this, &VDItemViewFindTarget::contentWasReplaced);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &VDItemViewFindTarget::contentWasReplaced);
    connect(model, &QAbstractItemModel::dataChanged, this, &VDItemViewFindTarget::contentWasReplaced);
}

QWidget* VDItemViewFindTarget::content() const
{
    return &view_;
}

bool VDItemViewFindTarget::setQuery(const QString& query)
{
    query_ = query;
    return true;
}

bool VDItemViewFindTarget::cellMatches(std::int64_t cell) const
{
    return cellAt(*view_.model(), cell).data().toString().contains(query_, Qt::CaseInsensitive);
}

std::optional<VDTextRange> VDItemViewFindTarget::searchForward(std::int64_t from) const
{
    for (std::int64_t cell = from; cell < contentEnd(); ++cell) {
        if (cellMatches(cell))
            return VDTextRange{cell, 1};
    }
    return std::nullopt;
}

std::optional<VDTextRange> VDItemViewFindTarget::searchBackward(std::int64_t before) const
{
    for (std::int64_t cell = std::min(before, contentEnd()); cell-- > 0;) {
        if (cellMatches(cell))
            return VDTextRange{cell, 1};
    }
    return std::nullopt;
}

std::int64_t VDItemViewFindTarget::contentEnd() const
{
    const QAbstractItemModel& model = *view_.model();
    return static_cast<std::int64_t>(model.rowCount()) * model.columnCount();
}

// Only the current match is shown, as the current cell: marking the others would mean changing
// the items, which belong to the view's owner.
void VDItemViewFindTarget::showMatches(const std::vector<VDTextRange>&, const std::optional<VDTextRange>& current)
{
    if (!current)
        return;
    const QModelIndex cell = cellAt(*view_.model(), current->start);
    view_.setCurrentIndex(cell);
    view_.scrollTo(cell);
}

} // namespace vd
