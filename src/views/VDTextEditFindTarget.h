#pragma once

#include "VDRangeFindTarget.h"

class QPlainTextEdit;

namespace vd {

// Searches a text area through its document: every match marked with an extra selection, the
// current one selected and scrolled into sight.
class VDTextEditFindTarget : public VDRangeFindTarget {
    Q_OBJECT
public:
    // A child of the text area it searches.
    explicit VDTextEditFindTarget(QPlainTextEdit& edit);

    QWidget* content() const override;

protected:
    bool setQuery(const QString& query) override;
    std::optional<VDTextRange> searchForward(std::int64_t from) const override;
    std::optional<VDTextRange> searchBackward(std::int64_t before) const override;
    std::int64_t contentEnd() const override;
    void showMatches(const std::vector<VDTextRange>& matches, const std::optional<VDTextRange>& current) override;

private:
    std::optional<VDTextRange> search(std::int64_t from, bool backward) const;

    QPlainTextEdit& edit_;
    QString query_;
};

} // namespace vd
