#include "WorkPool.h"

#include <algorithm>
#include <thread>
#include <vector>

#include <asio/executor_work_guard.hpp>

namespace vd {
namespace {

class Pool {
public:
    Pool()
    {
        // Work on the queues is short (socket reports, packet handling, file writes), so a few
        // threads suffice; at least two keep one busy queue from starving the others.
        const unsigned count = std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
        for (unsigned i = 0; i < count; ++i) {
            threads_.emplace_back([this] { context_.run(); });
        }
    }
    ~Pool() { stopThreads(); }
    asio::io_context& context() { return context_; }
    void stopThreads()
    {
        guard_.reset();
        context_.stop();
        for (auto& thread : threads_)
            thread.join();
        threads_.clear();
    }

private:
    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> guard_ = asio::make_work_guard(context_);
    std::vector<std::thread> threads_;
};

} // namespace

namespace {

Pool& pool()
{
    static Pool instance;
    return instance;
}

} // namespace

asio::io_context& WorkPool::context()
{
    return pool().context();
}

void WorkPool::stopThreads()
{
    pool().stopThreads();
}

} // namespace vd
