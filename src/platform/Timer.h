#pragma once

#include <memory>

#include "DispatchQueue.h"
#include "Seconds.h"

namespace vd {

// A one-shot or repeating timer whose handler runs on a given queue. Cancelling, or dropping
// the last reference, stops it: a handler not yet started will not run.
class Timer {
public:
    static std::shared_ptr<Timer> create(std::shared_ptr<DispatchQueue> queue, Task handler);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Fires after `delay`, then every `interval` when it is positive. Rescheduling replaces the
    // previous schedule. The leeway is how late a firing may be; the pool fires on time, so it
    // is only a hint.
    void schedule(Seconds delay, Seconds interval, Seconds leeway);
    void cancel();

    struct State;

private:
    explicit Timer(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

// Runs the task on the queue once the delay has passed.
void asyncAfter(const std::shared_ptr<DispatchQueue>& queue, Seconds delay, Task task);

} // namespace vd
