#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "RecordSlice.h"

namespace vd {

// How a UDP exchange went, as the service numbers it in "status".
enum class UDPStatus : std::uint64_t {
    active = 0,
    sent = 1,
    failed = 2,
};

// One UDP relay record as the service reported it: an immutable snapshot of one JSON text.
class VDUDPTunnelInfo {
public:
    // None when the text is not a JSON object.
    static std::shared_ptr<const VDUDPTunnelInfo> initWithJSONString(std::string text, double initTime);

    double initTime() const { return initTime_; }
    std::int64_t id_() const { return ints_[kId]; }
    UDPStatus status() const { return UDPStatus{status_}; }
    // As the service gives it; only kDirectionReceived has a meaning of its own.
    std::int64_t direction() const { return ints_[kDirection]; }
    // Data came back; such a record reads as received whatever its status.
    bool received() const { return direction() == kDirectionReceived; }
    std::string_view fromHost() const { return text(kFromHost); }
    std::int64_t fromPort() const { return ints_[kFromPort]; }
    std::string_view host() const { return text(kHost); }
    std::int64_t port() const { return ints_[kPort]; }
    std::string_view outboundMode() const { return text(kOutboundMode); }
    std::string_view ruleInfo() const { return text(kRuleInfo); }
    std::string_view policyName() const { return text(kPolicyName); }
    double t_time() const { return times_[kTime]; }
    double t_rule_found() const { return times_[kRuleFound]; }
    double t_end() const { return times_[kEnd]; }
    std::string_view rawData() const { return text_; }

    // Seconds since 1970.
    double startTime() const { return initTime_ + t_time(); }
    std::string statusString() const;
    std::string fromString() const;
    std::string serverString() const;

    static constexpr std::int64_t kDirectionReceived = 1;

    enum IntSlot : std::uint8_t { kId, kDirection, kFromPort, kPort, kIntCount };
    enum TimeSlot : std::uint8_t { kTime, kRuleFound, kEnd, kTimeCount };
    enum TextSlot : std::uint8_t { kFromHost, kHost, kOutboundMode, kRuleInfo, kPolicyName, kTextCount };

private:
    std::string_view text(TextSlot slot) const { return texts_[slot].in(shortStrings_); }

    std::string text_;
    std::string shortStrings_;
    double initTime_ = 0;
    std::uint64_t status_ = 0;
    std::array<std::int64_t, kIntCount> ints_{};
    std::array<double, kTimeCount> times_{};
    std::array<record::Slice, kTextCount> texts_{};
};

} // namespace vd
