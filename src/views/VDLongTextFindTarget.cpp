#include "VDLongTextFindTarget.h"

#include "VDLongTextView.h"

namespace vd {

VDLongTextFindTarget::VDLongTextFindTarget(VDLongTextView& view) : VDRangeFindTarget(&view), view_(view)
{
    connect(&view, &VDLazyLinesView::contentReplaced, this, &VDLongTextFindTarget::contentWasReplaced);
}

QWidget* VDLongTextFindTarget::content() const
{
    return &view_;
}

bool VDLongTextFindTarget::setQuery(const QString& query)
{
    query_ = query;
    return true;
}

std::optional<VDTextRange> VDLongTextFindTarget::searchForward(std::int64_t from) const
{
    // Not QStringMatcher: ignoring case, its skip table loses to a plain scan, ten times over for
    // one letter that is absent from 16 MiB.
    const qsizetype found = view_.text().indexOf(query_, from, Qt::CaseInsensitive);
    if (found < 0)
        return std::nullopt;
    return VDTextRange{found, query_.size()};
}

std::optional<VDTextRange> VDLongTextFindTarget::searchBackward(std::int64_t before) const
{
    if (before <= 0)
        return std::nullopt;
    const qsizetype found = view_.text().lastIndexOf(query_, before - 1, Qt::CaseInsensitive);
    if (found < 0)
        return std::nullopt;
    return VDTextRange{found, query_.size()};
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
