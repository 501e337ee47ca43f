#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/VDRecordLists.h"

namespace vd {

// A text as the filter compares it: case-folded, with diacritics removed ("Ünï.COM" and
// "uni.com" fold alike). Plain ASCII, the usual host name, is only lowered.
std::string foldForSearch(std::string_view text);

// Picks the records a tunnel list shows: those whose host contains the filter text, ignoring
// case and diacritics, and, unless the client filter is "-1", whose bundle id is exactly the
// client filter.
//
// While a filter text is set, the folded hosts of the last list are kept side by side in one
// buffer, in list order. The next list usually starts with the same records (the recent list
// grows at its end), so only the records after the shared start are folded, and a keystroke
// searches one contiguous buffer instead of visiting every record.
class VDTunnelFilter {
public:
    static constexpr std::string_view kAllClients = "-1";

    TunnelList apply(const TunnelList& all, std::string_view filterString, std::string_view bundleId);

    // Lets the kept records and their folded hosts go; the next list is folded from scratch.
    void release();

    // How many records' folded hosts are kept.
    std::size_t foldedHosts() const { return records_.size(); }

private:
    void foldHostsOf(const TunnelList& all);
    // Calls `use` with each row, in order, whose folded host contains the folded needle.
    template <typename Use>
    void forEachRowContaining(std::string_view needle, Use use) const;

    // Held, not only compared: a record kept here cannot be replaced by another at its address.
    TunnelList records_;
    std::string hosts_;
    std::vector<std::uint32_t> ends_;
};

} // namespace vd
