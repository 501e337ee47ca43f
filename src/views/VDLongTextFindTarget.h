#pragma once

#include "VDRangeFindTarget.h"

namespace vd {

class VDLongTextView;

// Searches the whole text behind a lazy text view, which marks the matches as their lines come
// into sight.
class VDLongTextFindTarget : public VDRangeFindTarget {
    Q_OBJECT
public:
    // A child of the view it searches.
    explicit VDLongTextFindTarget(VDLongTextView& view);

    QWidget* content() const override;

protected:
    bool setQuery(const QString& query) override;
    std::optional<VDTextRange> searchForward(std::int64_t from) const override;
    std::optional<VDTextRange> searchBackward(std::int64_t before) const override;
    std::int64_t contentEnd() const override;
    void showMatches(const std::vector<VDTextRange>& matches, const std::optional<VDTextRange>& current) override;

private:
    VDLongTextView& view_;
    QString query_;
};

} // namespace vd
