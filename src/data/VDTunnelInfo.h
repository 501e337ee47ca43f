#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "RecordSlice.h"
#include "TextRun.h"
#include "VDProcessInfo.h"

namespace vd {

// Where a tunnel stands.
enum class TunnelStatus : std::uint64_t {
    active = 0,
    completed = 1,
    suspended = 2,
};

// What a tunnel carries, as the service numbers it in "type"; any other number is an unknown
// protocol, which a record keeps as it came.
enum class TunnelProtocol : std::int64_t {
    http = 1,
    https = 2,
    sock = 3,
    tcp = 4,
    udp = 5,
};

// One proxied connection as the service reported it at one moment: an immutable snapshot of
// one JSON text. The text is kept verbatim, escaped as the inside of a JSON string the way a
// report carries it, so the next report's text is compared with it as it stands; the big header
// blocks are read from it again only when asked for (the detail pane), which keeps a record
// about as large as its text.
class VDTunnelInfo {
public:
    // None when the text is not a JSON object. The record keeps a copy of the text, with its
    // unescaped short texts after it in the same buffer.
    static std::shared_ptr<const VDTunnelInfo> initWithJSONString(std::string_view text, double initTime);
    // The same for a report's text: `escaped` as the report carries it, `text` the same with
    // its escapes undone (read in place when it has room after its end).
    static std::shared_ptr<const VDTunnelInfo> initWithReportText(std::string_view escaped, const std::string& text,
                                                                  double initTime);
    // A fixed set of sample records for interface work.
    static std::vector<std::shared_ptr<const VDTunnelInfo>> testData();

    double initTime() const { return initTime_; }
    std::int64_t id_() const { return ints_[kId]; }
    std::int64_t endId_() const { return ints_[kEndId]; }
    TunnelProtocol type() const { return TunnelProtocol{ints_[kType]}; }
    std::uint64_t closeReason() const { return closeReason_; }
    double t_start() const { return times_[kStart]; }
    double t_server_ready() const { return times_[kServerReady]; }
    double t_dns_resolved() const { return times_[kDnsResolved]; }
    double t_rule_found() const { return times_[kRuleFound]; }
    double t_proxy_ready() const { return times_[kProxyReady]; }
    double t_close() const { return times_[kClose]; }
    double t_end() const { return times_[kEnd]; }
    std::string_view host() const { return text(kHost); }
    std::int64_t port() const { return ints_[kPort]; }
    std::string headerString() const { return header(kHeaderString); }
    bool headerModified() const { return flags_[kHeaderModified]; }
    std::string modifiedHeaderString() const { return header(kModifiedHeaderString); }
    std::string responseHeader() const { return header(kResponseHeader); }
    std::string_view responseCode() const { return text(kResponseCode); }
    bool responseModified() const { return flags_[kResponseModified]; }
    std::string_view SSLHost() const { return text(kSSLHost); }
    std::string SSLHeaderString() const { return header(kSSLHeaderString); }
    bool SSLHeaderModified() const { return flags_[kSSLHeaderModified]; }
    std::string SSLModifiedHeaderString() const { return header(kSSLModifiedHeaderString); }
    std::string SSLResponseHeader() const { return header(kSSLResponseHeader); }
    std::string_view SSLResponseCode() const { return text(kSSLResponseCode); }
    bool SSLResponseModified() const { return flags_[kSSLResponseModified]; }
    bool hasReceive() const { return flags_[kHasReceive]; }
    bool hasSend() const { return flags_[kHasSend]; }
    std::string_view processName() const { return text(kProcessName); }
    std::int64_t processId() const { return ints_[kProcessId]; }
    std::string_view bundleIdentifier() const { return text(kBundleIdentifier); }
    std::string_view processPath() const { return text(kProcessPath); }
    // Never reported by the service; records have no icon path of their own.
    std::string_view processIconPath() const { return {}; }
    std::string_view fromHost() const { return text(kFromHost); }
    std::int64_t fromPort() const { return ints_[kFromPort]; }
    std::string_view toHost() const { return text(kToHost); }
    std::string_view outboundMode() const { return text(kOutboundMode); }
    std::string_view ruleInfo() const { return text(kRuleInfo); }
    std::string_view policyName() const { return text(kPolicyName); }
    std::int64_t rx() const { return ints_[kRx]; }
    std::int64_t tx() const { return ints_[kTx]; }
    std::int64_t rx_speed() const { return ints_[kRxSpeed]; }
    std::int64_t tx_speed() const { return ints_[kTxSpeed]; }
    std::int64_t rx_max_speed() const { return ints_[kRxMaxSpeed]; }
    std::int64_t tx_max_speed() const { return ints_[kTxMaxSpeed]; }
    std::string rawData() const;
    // The text as a report carries it: the inside of a JSON string.
    std::string_view escapedText() const { return std::string_view(buffer_).substr(0, textSize_); }

    TunnelStatus status() const;
    std::string statusString() const;
    std::string closeReasonString() const;
    std::string method() const;
    // The HTTP status code, or -1 when there is none.
    std::int64_t code() const;
    // Seconds since 1970.
    double startTime() const;
    // Seconds; an active tunnel's duration grows with the clock.
    double duration() const;
    std::string processTitle() const;
    std::string processDetailTitle() const;
    std::string fromString() const;
    std::string serverString() const;
    VDProcessInfo processInfo() const;
    std::string requestHeaderString() const;
    std::string responseHeaderString() const;
    StyledText timeAttributedString() const;
    std::string requestDataString() const { return {}; }
    std::string responseDataString() const { return {}; }

    // The bytes this record keeps alive, for memory accounting.
    std::size_t heldBytes() const { return sizeof(*this) + buffer_.capacity(); }

    enum IntSlot : std::uint8_t { kId, kEndId, kType, kPort, kProcessId, kFromPort, kRx, kTx, kRxSpeed, kTxSpeed,
                                  kRxMaxSpeed, kTxMaxSpeed, kIntCount };
    enum TimeSlot : std::uint8_t { kStart, kServerReady, kDnsResolved, kRuleFound, kProxyReady, kClose, kEnd, kTimeCount };
    enum FlagSlot : std::uint8_t { kHeaderModified, kResponseModified, kSSLHeaderModified, kSSLResponseModified,
                                   kHasReceive, kHasSend, kFlagCount };
    enum TextSlot : std::uint8_t { kHost, kResponseCode, kSSLHost, kSSLResponseCode, kProcessName, kBundleIdentifier,
                                   kProcessPath, kFromHost, kToHost, kOutboundMode, kRuleInfo, kPolicyName, kTextCount };
    enum HeaderSlot : std::uint8_t { kHeaderString, kModifiedHeaderString, kResponseHeader, kSSLHeaderString,
                                     kSSLModifiedHeaderString, kSSLResponseHeader, kHeaderCount };

private:
    std::string_view text(TextSlot slot) const { return texts_[slot].in(std::string_view(buffer_).substr(textSize_)); }
    std::string header(HeaderSlot slot) const;

    // The escaped text, then the unescaped short texts (names, addresses, codes) one after another: one
    // allocation, made once its size is known.
    std::string buffer_;
    std::uint32_t textSize_ = 0;
    double initTime_ = 0;
    std::uint64_t closeReason_ = 0;
    std::array<std::int64_t, kIntCount> ints_{};
    std::array<double, kTimeCount> times_{};
    std::array<bool, kFlagCount> flags_{};
    std::array<record::Slice, kTextCount> texts_{};
};

} // namespace vd
