#pragma once

#include <memory>
#include <string>
#include <vector>

#include "TargetSample.h"

namespace vd::ctl {

struct NamedSample {
    std::string target;
    std::shared_ptr<const TargetSample> sample;
};

// What Prometheus scrapes with this content type.
inline constexpr const char* kExpositionContentType = "text/plain; version=0.0.4; charset=utf-8";

// The samples as Prometheus text exposition (format 0.0.4): every metric with its HELP and TYPE,
// one line per target and label value. A target that is down shows vantor_up 0 and its counters,
// but no gauges: what it holds now is not known.
std::string exposition(const std::vector<NamedSample>& samples);

} // namespace vd::ctl
