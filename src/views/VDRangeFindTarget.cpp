#include "VDRangeFindTarget.h"

#include <algorithm>

namespace vd {
namespace {

bool startsBefore(const VDTextRange& match, std::int64_t position)
{
    return match.start < position;
}

} // namespace

VDFindStatus VDRangeFindTarget::find(const QString& query, VDFindStep step)
{
    if (query.isEmpty()) {
        clearFind();
        return {};
    }
    if (query != query_ || step == VDFindStep::kFromHere) {
        // Typing on keeps the current match where it is while it still matches.
        const std::int64_t anchor = current_ ? current_->start : 0;
        query_ = query;
        matches_.clear();
        capped_ = false;
        current_.reset();
        if (setQuery(query)) {
            countMatches();
            current_ = firstFrom(anchor);
        }
    } else if (current_) {
        current_ = step == VDFindStep::kNext ? next() : previous();
    }
    showMatches(matches_, current_);
    return status();
}

void VDRangeFindTarget::clearFind()
{
    query_.clear();
    matches_.clear();
    capped_ = false;
    current_.reset();
    showMatches(matches_, current_);
}

void VDRangeFindTarget::contentWasReplaced()
{
    query_.clear();
    matches_.clear();
    capped_ = false;
    current_.reset();
    emit contentReplaced();
}

void VDRangeFindTarget::countMatches()
{
    std::int64_t from = 0;
    while (const auto match = searchForward(from)) {
        if (static_cast<qsizetype>(matches_.size()) == kCountCap) {
            capped_ = true;
            return;
        }
        matches_.push_back(*match);
        from = match->start + std::max<std::int64_t>(1, match->length);
    }
}

qsizetype VDRangeFindTarget::indexOf(const VDTextRange& match) const
{
    const auto found = std::lower_bound(matches_.begin(), matches_.end(), match.start, startsBefore);
    return found != matches_.end() && *found == match ? found - matches_.begin() : -1;
}

std::optional<VDTextRange> VDRangeFindTarget::firstFrom(std::int64_t anchor) const
{
    if (matches_.empty())
        return std::nullopt;
    const auto found = std::lower_bound(matches_.begin(), matches_.end(), anchor, startsBefore);
    if (found != matches_.end())
        return *found;
    if (capped_) {
        if (auto beyond = searchForward(anchor))
            return beyond;
    }
    return matches_.front();
}

std::optional<VDTextRange> VDRangeFindTarget::next() const
{
    const qsizetype index = indexOf(*current_);
    if (index >= 0 && index + 1 < static_cast<qsizetype>(matches_.size()))
        return matches_[static_cast<std::size_t>(index) + 1];
    if (capped_) {
        if (auto beyond = searchForward(current_->end()))
            return beyond;
    }
    return matches_.front();
}

std::optional<VDTextRange> VDRangeFindTarget::previous() const
{
    const qsizetype index = indexOf(*current_);
    if (index > 0)
        return matches_[static_cast<std::size_t>(index) - 1];
    if (!capped_)
        return matches_.back();
    // From the first match back round to the very last one, or from beyond the counted ones
    // back towards them.
    const auto before = searchBackward(index == 0 ? contentEnd() : current_->start);
    return before ? before : matches_.back();
}

VDFindStatus VDRangeFindTarget::status() const
{
    VDFindStatus status;
    status.count = static_cast<qsizetype>(matches_.size());
    status.capped = capped_;
    status.found = current_.has_value();
    status.current = current_ ? indexOf(*current_) : -1;
    return status;
}

} // namespace vd
