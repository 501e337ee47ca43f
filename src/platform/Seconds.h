#pragma once

#include <chrono>

namespace vd {

// Delays and intervals, in seconds with a fraction. Apart from the timers, so that a setting
// can name them without the executors' headers.
using Seconds = std::chrono::duration<double>;

} // namespace vd
