#include "VDTopTalkersModel.h"

#include <algorithm>

#include "VDQuantityTexts.h"

namespace vd {

void VDTopTalkersModel::setRows(std::vector<Row> rows)
{
    const int shown = static_cast<int>(rows_.size());
    const int wanted = static_cast<int>(rows.size());
    if (wanted < shown) {
        beginRemoveRows({}, wanted, shown - 1);
        rows_.resize(rows.size());
        endRemoveRows();
    }
    // Every share is measured against the first row, so a new first row changes them all.
    const bool sharesMoved = !rows_.empty() && !rows.empty() && rows_.front().bytes != rows.front().bytes;
    int firstChanged = -1;
    int lastChanged = -1;
    for (int i = 0; i < std::min(shown, wanted); ++i) {
        if (sharesMoved || rows_[i] != rows[i]) {
            firstChanged = firstChanged < 0 ? i : firstChanged;
            lastChanged = i;
        }
    }
    if (wanted > shown) {
        beginInsertRows({}, shown, wanted - 1);
        rows_ = std::move(rows);
        endInsertRows();
    } else {
        rows_ = std::move(rows);
    }
    if (firstChanged >= 0)
        emit dataChanged(index(firstChanged), index(lastChanged));
}

int VDTopTalkersModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant VDTopTalkersModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole: return row.title;
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole: return QString("%1, %2").arg(row.title, sizeText(row.bytes));
    case NameRole: return row.name;
    case BytesRole: return QVariant::fromValue<qint64>(row.bytes);
    case ShareRole:
        return rows_.front().bytes > 0 ? static_cast<double>(row.bytes) / static_cast<double>(rows_.front().bytes) : 0.0;
    default: return {};
    }
}

} // namespace vd
