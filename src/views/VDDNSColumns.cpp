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

SortValue VDDNSColumns::sortValue(const Row& record, int column)
{
    switch (column) {
    case kType: return static_cast<std::int64_t>(record.type);
    case kDomain: return record.domain;
    case kIps: return record.ips.empty() ? std::string() : record.ips.front();
    case kTtl: return record.ttl;
    case kDns: return record.dns;
    case kComment: return record.comment;
    default: return std::int64_t{0};
    }
}

} // namespace vd
