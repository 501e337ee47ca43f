#pragma once

#include <asio/io_context.hpp>

namespace vd {

// The process-wide pool of worker threads behind every serial and concurrent queue and timer.
// It starts on first use and stops when the process exits, or earlier through stopThreads().
class WorkPool {
public:
    static asio::io_context& context();
    // Lets the task each thread is running finish, then stops the threads; tasks handed in
    // afterwards never run. A GUI program calls it before its toolkit goes away, so that no
    // task (an image being loaded, say) is still inside the toolkit while it is torn down.
    static void stopThreads();
};

} // namespace vd
