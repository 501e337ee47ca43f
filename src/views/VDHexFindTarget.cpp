#include "VDHexFindTarget.h"

#include "VDHexDumpView.h"

namespace vd {

VDHexFindTarget::VDHexFindTarget(VDHexDumpView& view) : VDRangeFindTarget(&view), view_(view)
{
    connect(&view, &VDLazyLinesView::contentReplaced, this, &VDHexFindTarget::contentWasReplaced);
}

QWidget* VDHexFindTarget::content() const
{
    return &view_;
}

std::span<const std::uint8_t> VDHexFindTarget::bytes() const
{
    if (!view_.bytes())
        return {};
    return *view_.bytes();
}

bool VDHexFindTarget::setQuery(const QString& query)
{
    finder_.emplace(bytePatternOf(query));
    return finder_->length() > 0;
}

std::optional<VDTextRange> VDHexFindTarget::rangeAt(std::optional<std::size_t> start) const
{
    if (!start)
        return std::nullopt;
    return VDTextRange{static_cast<std::int64_t>(*start), static_cast<std::int64_t>(finder_->length())};
}

std::optional<VDTextRange> VDHexFindTarget::searchForward(std::int64_t from) const
{
    return rangeAt(finder_->forward(bytes(), static_cast<std::size_t>(from)));
}

std::optional<VDTextRange> VDHexFindTarget::searchBackward(std::int64_t before) const
{
    return rangeAt(finder_->backward(bytes(), static_cast<std::size_t>(before)));
}

std::int64_t VDHexFindTarget::contentEnd() const
{
    return static_cast<std::int64_t>(bytes().size());
}

void VDHexFindTarget::showMatches(const std::vector<VDTextRange>& matches, const std::optional<VDTextRange>& current)
{
    view_.setMatches(matches, current);
}

} // namespace vd
