#include "Timer.h"

#include <atomic>

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include "WorkPool.h"

namespace vd {

// The steady timer is touched only on its own strand; the generation tells a firing that was
// already on its way to the target queue that it has been cancelled or rescheduled meanwhile.
struct Timer::State : std::enable_shared_from_this<Timer::State> {
    State(std::shared_ptr<DispatchQueue> q, Task h)
        : strand(asio::make_strand(WorkPool::context())), timer(strand), queue(std::move(q)), handler(std::move(h))
    {
    }

    void arm(unsigned long long gen, std::chrono::steady_clock::time_point at, std::chrono::steady_clock::duration interval)
    {
        timer.expires_at(at);
        timer.async_wait([self = shared_from_this(), gen, at, interval](const std::error_code& ec) {
            if (ec || self->generation.load() != gen)
                return;
            self->queue->async([self, gen] {
                if (self->generation.load() == gen)
                    self->handler();
            });
            if (interval.count() > 0)
                self->arm(gen, at + interval, interval);
        });
    }

    asio::strand<asio::io_context::executor_type> strand;
    asio::steady_timer timer;
    std::shared_ptr<DispatchQueue> queue;
    Task handler;
    std::atomic<unsigned long long> generation{0};
};

std::shared_ptr<Timer> Timer::create(std::shared_ptr<DispatchQueue> queue, Task handler)
{
    return std::shared_ptr<Timer>(new Timer(std::make_shared<State>(std::move(queue), std::move(handler))));
}

Timer::Timer(std::shared_ptr<State> state) : state_(std::move(state)) {}

Timer::~Timer()
{
    cancel();
}

void Timer::schedule(Seconds delay, Seconds interval, Seconds /*leeway*/)
{
    const auto gen = ++state_->generation;
    const auto at = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(delay);
    const auto every = std::chrono::duration_cast<std::chrono::steady_clock::duration>(interval);
    asio::post(state_->strand, [state = state_, gen, at, every] {
        if (state->generation.load() == gen)
            state->arm(gen, at, every);
    });
}

void Timer::cancel()
{
    const auto gen = ++state_->generation;
    // A schedule issued after this cancel may reach the strand first; it then owns the timer.
    asio::post(state_->strand, [state = state_, gen] {
        if (state->generation.load() == gen)
            state->timer.cancel();
    });
}

void asyncAfter(const std::shared_ptr<DispatchQueue>& queue, Seconds delay, Task task)
{
    auto timer = std::make_shared<asio::steady_timer>(WorkPool::context(), std::chrono::duration_cast<std::chrono::steady_clock::duration>(delay));
    timer->async_wait([timer, queue, task = std::move(task)](const std::error_code& ec) mutable {
        if (!ec)
            queue->async(std::move(task));
    });
}

} // namespace vd
