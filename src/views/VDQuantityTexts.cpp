#include "VDQuantityTexts.h"

#include "data/VDUtils.h"

namespace vd {

QString sizeText(std::int64_t bytes)
{
    const auto [number, unit] = VDUtils::transformedValue(bytes, false);
    return QString::fromStdString(number + unit);
}

QString speedText(std::int64_t bytesPerSecond)
{
    const auto [number, unit] = VDUtils::transformedValue(bytesPerSecond, true);
    return QString::fromStdString(number + unit) + "/s";
}

} // namespace vd
