#pragma once

#include <functional>

namespace vd {

// A piece of work handed to a queue. Apart from the queues, so that an interface that only
// passes work along does not bring the executors' headers with it.
using Task = std::function<void()>;

} // namespace vd
