#include "VDLongTextFindTarget.h"

#include "VDLongTextView.h"

namespace vd {

VDLongTextFindTarget::VDLongTextFindTarget(VDLongTextView& view) : VDRangeFindTarget(&view), view_(view)
{
    matcher_.setCaseSensitivity(Qt::CaseInsensitive);
    connect(&view, &VDLazyLinesView::contentReplaced, this, &VDLongTextFindTarget::contentWasReplaced);
}

QWidget* VDLongTextFindTarget::content() const
{
    return &view_;
}

bool VDLongTextFindTarget::setQuery(const QString& query)
{
    matcher_.setPattern(query);
    return true;
}

std::optional<VDTextRange> VDLongTextFindTarget::searchForward(std::int64_t from) const
{
    const qsizetype found = matcher_.indexIn(view_.text(), from);
    if (found < 0)
        return std::nullopt;
    return VDTextRange{found, matcher_.pattern().size()};
}

std::optional<VDTextRange> VDLongTextFindTarget::searchBackward(std::int64_t before) const
{
    if (before <= 0)
        return std::nullopt;
    const qsizetype found = view_.text().lastIndexOf(matcher_.pattern(), before - 1, Qt::CaseInsensitive);
    if (found < 0)
        return std::nullopt;
    return VDTextRange{found, matcher_.pattern().size()};
}

std::int64_t VDLongTextFindTarget::contentEnd() const
{
    return view_.text().size();
}

void VDLongTextFindTarget::showMatches(const std::vector<VDTextRange>& matches, const std::optional<VDTextRange>& current)
{
    view_.setMatches(matches, current);
}

} // namespace vd
