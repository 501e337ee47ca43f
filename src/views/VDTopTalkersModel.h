#pragma once

#include <cstdint>
#include <vector>

#include <QAbstractListModel>

namespace vd {

// The few rows of a top-talkers stack: a name (what choosing the row hands on), the title
// shown for it, and its bytes.
//
// Sums grow with every report, but what a row shows (its title, its bytes as text, its bar to a
// thousandth) mostly does not; only rows whose look changed are announced, so most reports
// repaint nothing here.
class VDTopTalkersModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { NameRole = Qt::UserRole, BytesTextRole, ShareRole };

    struct Row {
        QString name;
        QString title;
        std::int64_t bytes = 0;
    };

    using QAbstractListModel::QAbstractListModel;

    // Largest first. Rows are inserted or removed at the end and the others changed in place,
    // so the view keeps its current row while the ranking moves.
    void setRows(std::vector<Row> rows);
    const std::vector<Row>& rows() const { return rows_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    // Display: the title; accessible text: title and bytes; ShareRole: the row's bytes as a
    // part of the first row's, for the bar behind it.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    struct Look {
        QString title;
        QString bytes;
        int permille = 0;
        bool operator==(const Look&) const = default;
    };
    static std::vector<Look> looksOf(const std::vector<Row>& rows);

    std::vector<Row> rows_;
    std::vector<Look> looks_;
};

} // namespace vd
