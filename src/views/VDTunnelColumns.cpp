#include "VDTunnelColumns.h"

#include "VDStatusImages.h"
#include "data/VDUtils.h"

namespace vd {
namespace {

QString qText(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString byteCount(std::int64_t value)
{
    auto [number, unit] = VDUtils::transformedValue(value, false);
    return qText(number + unit);
}

} // namespace

std::string policyText(std::string_view policyName, std::string_view ruleInfo)
{
    if (policyName.empty())
        return "--";
    std::string text(policyName);
    if (!ruleInfo.empty())
        text.append(" (").append(ruleInfo).append(")");
    return text;
}

QString VDTunnelColumns::text(const Row& tunnel, int column)
{
    switch (column) {
    // Shown as an image; the text is what screen readers say for it.
    case kStatus: return VDStatusImages::spokenName(VDStatusImages::nameFor(tunnel->status()));
    case kId: return QString::number(tunnel->id_());
    case kDate: return qText(VDUtils::formatTunnelStartTime(tunnel->startTime()));
    case kClient: return qText(tunnel->processTitle());
    case kStatusString: return qText(tunnel->statusString());
    case kPolicy: return qText(policyText(tunnel->policyName(), tunnel->ruleInfo()));
    case kTx: return byteCount(tunnel->tx());
    case kRx: return byteCount(tunnel->rx());
    case kDuration: return qText(VDUtils::formatDuration(tunnel->duration()));
    case kMethod: return qText(tunnel->method());
    case kServer: return qText(tunnel->serverString());
    default: return {};
    }
}

QPixmap VDTunnelColumns::image(const Row& tunnel, int column)
{
    return column == kStatus ? VDStatusImages::forStatus(tunnel->status()) : QPixmap();
}

} // namespace vd
