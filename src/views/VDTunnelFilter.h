#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "data/VDDataProcesser.h"

namespace vd {

// A text as the filter compares it: case-folded, with diacritics removed ("Ünï.COM" and
// "uni.com" fold alike). Plain ASCII, the usual host name, is only lowered.
std::string foldForSearch(std::string_view text);

// Picks the records a tunnel list shows: those whose host contains the filter text, ignoring
// case and diacritics, and, unless the client filter is "-1", whose bundle id is exactly the
// client filter.
//
// The folded host of a tunnel is made once, the first time a filter meets it, and kept by
// tunnel id: a tunnel is re-reported every second as a new record with the same host, so a
// keystroke or a refresh only compares texts. Tunnels no longer reported are forgotten.
class VDTunnelFilter {
public:
    static constexpr std::string_view kAllClients = "-1";

    TunnelList apply(const TunnelList& all, std::string_view filterString, std::string_view bundleId);

    std::size_t cachedHosts() const { return folded_.size(); }

private:
    const std::string& foldedHostOf(const VDTunnelInfo& tunnel);
    void forgetUnseen(std::size_t reported);

    struct Folded {
        std::size_t hostHash = 0;
        std::uint64_t seen = 0;
        std::string host;
    };
    std::unordered_map<std::int64_t, Folded> folded_;
    std::uint64_t generation_ = 0;
};

} // namespace vd
