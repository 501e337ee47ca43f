#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include <QAbstractTableModel>
#include <QPixmap>

#include "VDTunnelSorting.h"
#include "data/VDDataProcesser.h"
#include "data/VDICONImageManager.h"

namespace vd {

// The rows of a tunnel table (`mainArray`: filtered and sorted records, shared with nobody who
// could change them) behind the eleven columns. Cell texts are made only when the view asks for
// a visible cell; the model keeps no text per row.
//
// New rows never reset the model: records appended to an unchanged list arrive with rowsInserted,
// any other change is one layout change that moves persistent indexes to their records' new rows,
// and the values refresh with one ranged dataChanged. So the selection stays on its record and a
// refresh of thousands of rows costs the view only its visible cells.
class VDTunnelTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The typed value a column sorts by (a number, a date as seconds, or a text), for views and
    // proxies that sort or filter through the model's roles.
    static constexpr int SortKeyRole = Qt::UserRole + 1;
    // Client icons are asked for at this size and drawn at half of it.
    static constexpr double kIconSide = 32;

    explicit VDTunnelTableModel(std::shared_ptr<VDICONImageManager> icons = VDICONImageManager::sharedInstance(),
                                QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A header click: the column's key becomes the first sort key, the earlier ones break ties,
    // and the rows are sorted in place. Columns without a sort key are ignored.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    const TunnelList& mainArray() const { return rows_; }
    const TunnelSortDescriptors& sortDescriptors() const { return sortDescriptors_; }
    // Replaces the rows, keeping every persistent index (the selection) on its record.
    void setRows(TunnelList rows);
    std::shared_ptr<const VDTunnelInfo> recordAt(int row) const;
    // The row of the tunnel with this id, or -1.
    int rowOfId(std::int64_t id) const;

    // Bytes the model itself holds (rows and icons), the records not counted: they are shared.
    std::size_t heldBytes() const;

private:
    struct Icon {
        QPixmap image;
        std::uint64_t generation = 0;
        bool pending = false;
    };
    QVariant clientIcon(const VDTunnelInfo& tunnel) const;
    void iconArrived(const std::string& bundleId, QImage image);
    QVariant sortKeyOf(const VDTunnelInfo& tunnel, int column) const;
    // Replaces the rows in one layout change; `newRowOf` tells where an old row's record went
    // (-1: gone), and is asked while both the old rows and `rows` are still whole.
    void relayout(TunnelList&& rows, const std::function<int(int)>& newRowOf);

    TunnelList rows_;
    TunnelSortDescriptors sortDescriptors_;
    const std::shared_ptr<VDICONImageManager> iconManager_;
    // Icons by bundle id, so an icon that arrives late can only show on rows of the bundle it
    // was asked for. Each reload asks again (answered from the cache's memory), which picks up
    // an icon that arrived from the service since.
    mutable std::unordered_map<std::string, Icon> icons_;
    std::uint64_t iconGeneration_ = 1;
    // The cache answers from memory at once, inside data(), where no signal may be sent.
    mutable bool answering_ = false;
};

} // namespace vd
