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

} // namespace vd
