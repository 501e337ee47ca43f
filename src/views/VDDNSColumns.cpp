#include "VDDNSColumns.h"

#include "data/VDUtils.h"

namespace vd {

QString VDDNSColumns::text(const Row& record, int column)
{
    switch (column) {
    case kType: return QString::fromStdString(record.typeString());
    case kDomain: return QString::fromStdString(record.domain);
    case kIps: return QString::fromStdString(record.ipsString());
    case kTtl: return QString::fromStdString(VDUtils::formatTTL(record.ttl));
    case kDns: return QString::fromStdString(record.dns);
    case kComment: return QString::fromStdString(record.comment);
    default: return {};
    }
}

SortKey VDDNSColumns::sortKey(const Row& record, int column)
{
    switch (column) {
    case kType: return static_cast<std::int64_t>(record.type);
    case kDomain: return std::string_view(record.domain);
    case kIps: return record.ips.empty() ? std::string_view() : std::string_view(record.ips.front());
    case kTtl: return record.ttl;
    case kDns: return std::string_view(record.dns);
    case kComment: return std::string_view(record.comment);
    default: return std::int64_t{0};
    }
}

} // namespace vd
