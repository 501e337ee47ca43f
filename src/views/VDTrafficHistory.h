#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vd {

struct VDTrafficPoint {
    double time = 0;
    std::int64_t upload = 0;
    std::int64_t download = 0;
};

// The speeds of the last ten minutes, one point per report, in a ring allocated once: a
// dashboard left open for days holds no more than one left open for a minute.
class VDTrafficHistory {
public:
    static constexpr double kWindowSeconds = 600;
    // Reports come about once a second; four a second still fit ten minutes.
    static constexpr std::size_t kCapacity = 600 * 4;

    VDTrafficHistory() : points_(kCapacity) {}

    // Appends the point and lets go of those more than ten minutes older than it, or of the
    // oldest when the ring is full. A point dated before the newest one is taken as of the
    // newest one's time, so the series never runs backwards.
    void append(VDTrafficPoint point);

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // 0 is the oldest point.
    const VDTrafficPoint& at(std::size_t index) const { return points_[(first_ + index) % kCapacity]; }
    const VDTrafficPoint& newest() const { return at(size_ - 1); }
    // The highest speed of either direction among the points held; 0 when there are none.
    std::int64_t peak() const;

private:
    std::vector<VDTrafficPoint> points_;
    std::size_t first_ = 0;
    std::size_t size_ = 0;
};

} // namespace vd
