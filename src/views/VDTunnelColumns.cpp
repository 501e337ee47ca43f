#include "VDTunnelColumns.h"

#include "VDStatusImages.h"
#include "data/HttpHead.h"
#include "data/TunnelExchange.h"
#include "data/VDUtils.h"
#include "platform/Numbers.h"

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
    case kCode: return tunnel->code() < 0 ? QString() : QString::number(tunnel->code());
    case kPath: return qText(path(*tunnel));
    case kContentType: return qText(responseField(*tunnel, "Content-Type"));
    case kContentLength: return contentLength(*tunnel) < 0 ? QString() : QString::number(contentLength(*tunnel));
    default: return {};
    }
}

std::string VDTunnelColumns::path(const VDTunnelInfo& tunnel)
{
    const auto exchange = TunnelExchange::of(tunnel);
    return exchange ? std::string(exchange->path()) : std::string();
}

std::string VDTunnelColumns::responseField(const VDTunnelInfo& tunnel, std::string_view name)
{
    const auto exchange = TunnelExchange::of(tunnel);
    return exchange ? headerValues(exchange->responseHead, name) : std::string();
}

std::int64_t VDTunnelColumns::contentLength(const VDTunnelInfo& tunnel)
{
    const std::string value = responseField(tunnel, "Content-Length");
    return value.empty() ? -1 : numbers::leadingInteger(value);
}

QPixmap VDTunnelColumns::image(const Row& tunnel, int column)
{
    return column == kStatus ? VDStatusImages::forStatus(tunnel->status()) : QPixmap();
}

} // namespace vd
