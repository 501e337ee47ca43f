#include "MainLoop.h"

#include "MainQueue.h"

namespace vd {

MainLoop::MainLoop()
{
    MainQueue::install([this](Task task) { post(std::move(task)); });
}

MainLoop::~MainLoop()
{
    MainQueue::uninstall();
}

void MainLoop::post(Task task)
{
    // Notifying under the lock: the loop may be destroyed as soon as it has run this task.
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    wake_.notify_one();
}

bool MainLoop::runOne(std::unique_lock<std::mutex>& lock)
{
    if (tasks_.empty())
        return false;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    task = nullptr;
    lock.lock();
    return true;
}

void MainLoop::drain()
{
    std::unique_lock lock(mutex_);
    while (runOne(lock)) {
    }
}

bool MainLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout, Changes changes)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
        while (runOne(lock)) {
        }
        lock.unlock();
        const bool finished = done();
        lock.lock();
        if (finished)
            return true;
        // Conditions usually change on other threads without posting here, so look again often.
        const auto wakeAt = changes == Changes::byTasks
                                ? deadline
                                : std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(5));
        if (wake_.wait_until(lock, wakeAt, [this] { return !tasks_.empty(); }))
            continue;
        if (std::chrono::steady_clock::now() >= deadline) {
            lock.unlock();
            return done();
        }
    }
}

void MainLoop::runFor(std::chrono::milliseconds duration)
{
    // Nothing to look at but the tasks: sleep until one comes or the time is up.
    const auto deadline = std::chrono::steady_clock::now() + duration;
    std::unique_lock lock(mutex_);
    do {
        while (runOne(lock)) {
        }
    } while (wake_.wait_until(lock, deadline, [this] { return !tasks_.empty(); }));
}

} // namespace vd
