#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "DispatchQueue.h"

namespace vd {

// A main thread without a GUI toolkit, for tools and tests: made on the thread that will drain
// it, it installs itself as the main queue for its lifetime.
class MainLoop {
public:
    MainLoop();
    ~MainLoop();
    MainLoop(const MainLoop&) = delete;
    MainLoop& operator=(const MainLoop&) = delete;

    // Runs the tasks waiting now (and those they post) until none is left.
    void drain();
    // What may change the condition of runUntil: anything, so it looks again every few
    // milliseconds, or only the tasks run here, so it sleeps until one comes (for a measurement
    // that its own wake-ups would spoil).
    enum class Changes { anywhere, byTasks };
    // Runs tasks as they come until `done` holds or the time is up; returns whether it held.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout, Changes changes = Changes::anywhere);
    // Runs tasks as they come for the given time.
    void runFor(std::chrono::milliseconds duration);

private:
    void post(Task task);
    bool runOne(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
};

} // namespace vd
