#pragma once

#include <asio/io_context.hpp>

namespace vd {

// The process-wide pool of worker threads behind every serial and concurrent queue and timer.
// It starts on first use and stops when the process exits.
class WorkPool {
public:
    static asio::io_context& context();
};

} // namespace vd
