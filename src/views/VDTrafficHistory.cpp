#include "VDTrafficHistory.h"

#include <algorithm>
#include <cmath>

namespace vd {

void VDTrafficHistory::append(VDTrafficPoint point)
{
    const double newestTime = size_ > 0 ? newest().time : 0;
    if (!std::isfinite(point.time) || (size_ > 0 && point.time < newestTime))
        point.time = newestTime;
    // The service's speeds are signed; a negative one would draw below the axis.
    point.upload = std::max<std::int64_t>(point.upload, 0);
    point.download = std::max<std::int64_t>(point.download, 0);
    if (size_ == kCapacity) {
        first_ = (first_ + 1) % kCapacity;
        --size_;
    }
    points_[(first_ + size_) % kCapacity] = point;
    ++size_;
    while (point.time - at(0).time > kWindowSeconds) {
        first_ = (first_ + 1) % kCapacity;
        --size_;
    }
}

std::int64_t VDTrafficHistory::peak() const
{
    std::int64_t peak = 0;
    for (std::size_t i = 0; i < size_; ++i) {
        const VDTrafficPoint& point = at(i);
        peak = std::max({peak, point.upload, point.download});
    }
    return peak;
}

} // namespace vd
