#pragma once

#include <optional>

#include "VDByteSearch.h"
#include "VDRangeFindTarget.h"

namespace vd {

class VDHexDumpView;

// Searches the bytes behind a hex dump, not its text: "1F 8B" finds those two bytes wherever
// they fall, across a line's end too, and "PNG" finds the bytes of those letters.
class VDHexFindTarget : public VDRangeFindTarget {
    Q_OBJECT
public:
    // A child of the view it searches.
    explicit VDHexFindTarget(VDHexDumpView& view);

    QWidget* content() const override;

protected:
    bool setQuery(const QString& query) override;
    std::optional<VDTextRange> searchForward(std::int64_t from) const override;
    std::optional<VDTextRange> searchBackward(std::int64_t before) const override;
    std::int64_t contentEnd() const override;
    void showMatches(const std::vector<VDTextRange>& matches, const std::optional<VDTextRange>& current) override;

private:
    std::span<const std::uint8_t> bytes() const;
    std::optional<VDTextRange> rangeAt(std::optional<std::size_t> start) const;

    VDHexDumpView& view_;
    std::optional<VDByteFinder> finder_;
};

} // namespace vd
