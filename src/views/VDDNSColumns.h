#pragma once

#include <array>
#include <string>
#include <string_view>

#include <QPixmap>
#include <QString>

#include "VDRecordColumn.h"
#include "data/VDDNSInfo.h"

namespace vd {

// The six columns of the DNS table and how each shows and sorts a name-table entry.
struct VDDNSColumns {
    using Row = VDDNSInfo;
    enum Index : int { kType, kDomain, kIps, kTtl, kDns, kComment, kCount };
    static constexpr bool kSelectable = true;
    using Cell = VDTableCellView;
    static constexpr std::array<VDRecordColumn, kCount> kColumns{{
        {"type_column", "Type", 70, 0, true, Cell::textOnlyTop, Cell::elideEnd},
        {"domain_column", "Domain", 250, 250, true, Cell::textOnlyTop, Cell::elideMiddle},
        {"ips_column", "IPs", 250, 250, true, Cell::textOnlyTop, Cell::wrap},
        {"ttl_column", "TTL", 70, 30, true, Cell::textOnlyTop, Cell::elideEnd},
        {"dns_column", "DNS / DoH", 120, 30, true, Cell::textOnlyTop, Cell::elideEnd},
        {"comment_column", "Comment", 120, 30, true, Cell::textOnlyTop, Cell::elideEnd},
    }};

    static QString text(const Row& record, int column);
    static QPixmap image(const Row&, int) { return {}; }
    // The IPs column sorts by the first address (none sorts first).
    template <typename Use>
    static void forSortKey(int column, Use use)
    {
        switch (column) {
        case kType: use([](const Row& r) { return static_cast<std::int64_t>(r.type); }); break;
        case kDomain: use([](const Row& r) { return std::string_view(r.domain); }); break;
        case kIps: use([](const Row& r) { return r.ips.empty() ? std::string_view() : std::string_view(r.ips.front()); }); break;
        case kTtl: use([](const Row& r) { return r.ttl; }); break;
        case kDns: use([](const Row& r) { return std::string_view(r.dns); }); break;
        case kComment: use([](const Row& r) { return std::string_view(r.comment); }); break;
        default: break;
        }
    }
    // A name can be both configured and cached: each is a record of its own.
    static std::string key(const Row& record)
    {
        return std::to_string(static_cast<std::uint64_t>(record.type)) + ' ' + record.domain;
    }
};

} // namespace vd
