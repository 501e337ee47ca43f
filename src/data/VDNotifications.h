#pragma once

#include <cstdint>

namespace vd {

class VDDumpDataManager;

// The names every window's views listen to; none of them carries the posting processor, so
// each view reloads from its own window's processor.
inline constexpr const char* kVDCurrentTunnelRefreshed = "kVDCurrentTunnelRefreshed";
inline constexpr const char* kVDRecentTunnelRefreshed = "kVDRecentTunnelRefreshed";
inline constexpr const char* kVDDNSRefreshed = "kVDDNSRefreshed";
inline constexpr const char* kVDUDPRefreshed = "kVDUDPRefreshed";
inline constexpr const char* kVDFilterStringChanged = "kVDFilterStringChanged";
// The service told its own state (switches, local addresses), which it does after each login:
// whatever shows the switches reads them again.
inline constexpr const char* kVDServiceInfoRefreshed = "kVDServiceInfoRefreshed";
inline constexpr const char* kDumpRequestReceive = "dump_request_receive";
inline constexpr const char* kDumpResponseReceive = "dump_response_receive";

// What the two body-arrival notifications carry: the dump store of the posting window
// (compared by identity) and the record whose body was stored.
struct VDBodyArrival {
    const VDDumpDataManager* manager = nullptr;
    std::int64_t id = 0;
};

} // namespace vd
