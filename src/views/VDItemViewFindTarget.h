#pragma once

#include "VDRangeFindTarget.h"

class QAbstractItemView;

namespace vd {

// Searches the cells of a flat table (a form's keys and values): a match is a cell holding the
// query, made current and scrolled into sight. Units are cells, row by row.
class VDItemViewFindTarget : public VDRangeFindTarget {
    Q_OBJECT
public:
    // A child of the view it searches.
    explicit VDItemViewFindTarget(QAbstractItemView& view);

    QWidget* content() const override;

protected:
    bool setQuery(const QString& query) override;
    std::optional<VDTextRange> searchForward(std::int64_t from) const override;
    std::optional<VDTextRange> searchBackward(std::int64_t before) const override;
    std::int64_t contentEnd() const override;
    void showMatches(const std::vector<VDTextRange>& matches, const std::optional<VDTextRange>& current) override;

private:
    bool cellMatches(std::int64_t cell) const;

    QAbstractItemView& view_;
    QString query_;
};

} // namespace vd
