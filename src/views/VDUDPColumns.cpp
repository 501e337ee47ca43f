#include "VDUDPColumns.h"

#include "VDStatusImages.h"
#include "VDTunnelColumns.h"
#include "data/VDUtils.h"

namespace vd {
namespace {

const char* statusImageName(const VDUDPColumns::Row& record)
{
    return record->received() ? "complete" : VDStatusImages::nameFor(record->status());
}

} // namespace

QString VDUDPColumns::text(const Row& record, int column)
{
    switch (column) {
    // Shown as an image; the text is what screen readers say for it.
    case kStatus: return VDStatusImages::spokenName(statusImageName(record));
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
    return VDStatusImages::named(statusImageName(record));
}

} // namespace vd
