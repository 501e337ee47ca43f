#include "VDTopTalkersModel.h"

#include <algorithm>
#include <cmath>

#include "VDQuantityTexts.h"

namespace vd {

std::vector<VDTopTalkersModel::Look> VDTopTalkersModel::looksOf(const std::vector<Row>& rows)
{
    std::vector<Look> looks;
    looks.reserve(rows.size());
    for (const Row& row : rows) {
        const std::int64_t first = rows.front().bytes;
        const double share = first > 0 ? static_cast<double>(row.bytes) / static_cast<double>(first) : 0.0;
        looks.push_back({row.title, sizeText(row.bytes), static_cast<int>(std::lround(std::clamp(share, 0.0, 1.0) * 1000))});
    }
    return looks;
}

void VDTopTalkersModel::setRows(std::vector<Row> rows)
{
    std::vector<Look> looks = looksOf(rows);
    const int shown = static_cast<int>(rows_.size());
    const int wanted = static_cast<int>(rows.size());
    if (wanted < shown) {
        beginRemoveRows({}, wanted, shown - 1);
        rows_.resize(rows.size());
        looks_.resize(looks.size());
        endRemoveRows();
    }
    int firstChanged = -1;
    int lastChanged = -1;
    for (int i = 0; i < std::min(shown, wanted); ++i) {
        if (looks_[i] != looks[i]) {
            firstChanged = firstChanged < 0 ? i : firstChanged;
            lastChanged = i;
        }
    }
    if (wanted > shown) {
        beginInsertRows({}, shown, wanted - 1);
        rows_ = std::move(rows);
        looks_ = std::move(looks);
        endInsertRows();
    } else {
        rows_ = std::move(rows);
        looks_ = std::move(looks);
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
    const auto row = static_cast<std::size_t>(index.row());
    const Look& look = looks_[row];
    switch (role) {
    case Qt::DisplayRole: return look.title;
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole: return QString("%1, %2").arg(look.title, look.bytes);
    case NameRole: return rows_[row].name;
    case BytesTextRole: return look.bytes;
    case ShareRole: return look.permille / 1000.0;
    default: return {};
    }
}

} // namespace vd
