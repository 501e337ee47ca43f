#pragma once

#include <optional>
#include <vector>

#include "VDFindTarget.h"
#include "VDTextRange.h"

namespace vd {

// The counting and stepping every searchable view shares. Matches are counted up to a cap, so
// a one-letter query over 16 MiB costs a bounded number of hits, not millions; stepping past
// the counted ones searches the content directly, so every match can still be reached.
// Matches do not overlap: the next one starts where the last one ends.
class VDRangeFindTarget : public VDFindTarget {
    Q_OBJECT
public:
    static constexpr qsizetype kCountCap = 1000;

    VDFindStatus find(const QString& query, VDFindStep step) final;
    void clearFind() final;

protected:
    using VDFindTarget::VDFindTarget;

    // Takes a new query; false when nothing can match it.
    virtual bool setQuery(const QString& query) = 0;
    // The first match starting at `from` or later.
    virtual std::optional<VDTextRange> searchForward(std::int64_t from) const = 0;
    // The last match starting before `before`.
    virtual std::optional<VDTextRange> searchBackward(std::int64_t before) const = 0;
    // Where a backward search that wraps around starts.
    virtual std::int64_t contentEnd() const = 0;
    // Marks the counted matches and the current one; with neither the marks go.
    virtual void showMatches(const std::vector<VDTextRange>& matches, const std::optional<VDTextRange>& current) = 0;

    // For subclasses whose content was replaced: the next search starts afresh, and whoever
    // searches hears of it.
    void contentWasReplaced();

private:
    void countMatches();
    qsizetype indexOf(const VDTextRange& match) const;
    std::optional<VDTextRange> firstFrom(std::int64_t anchor) const;
    std::optional<VDTextRange> next() const;
    std::optional<VDTextRange> previous() const;
    VDFindStatus status() const;

    QString query_;
    std::vector<VDTextRange> matches_;
    bool capped_ = false;
    std::optional<VDTextRange> current_;
};

} // namespace vd
