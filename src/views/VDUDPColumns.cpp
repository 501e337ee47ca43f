#include "VDUDPColumns.h"

#include "VDStatusImages.h"
#include "VDTunnelColumns.h"
#include "data/VDUtils.h"

namespace vd {
QString VDUDPColumns::text(const Row& record, int column)
{
    switch (column) {
    case kId: return QString::number(record->id_());
    case kDate: return QString::fromStdString(VDUtils::formatTunnelStartTime(record->startTime()));
    case kClient: return QString::fromStdString(record->fromString());
    case kStatusString: return QString::fromStdString(record->statusString());
    case kPolicy: return QString::fromStdString(policyText(record->policyName(), record->ruleInfo()));
    case kServer: return QString::fromStdString(record->serverString());
    default: return {};
    }
}

QPixmap VDUDPColumns::image(const Row& record, int column)
{
    if (column != kStatus)
        return {};
    return record->received() ? VDStatusImages::named("complete") : VDStatusImages::forStatus(record->status());
}

} // namespace vd
