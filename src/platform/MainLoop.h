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
    // Runs tasks as they come until `done` holds or the time is up; returns whether it held.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
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
