#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <semaphore>
#include <thread>

#include "platform/DispatchQueue.h"

namespace vd::test {

// Generous on purpose: sanitizer builds on a loaded machine run many times slower, and a
// condition that already holds returns at once anyway.
inline constexpr std::chrono::milliseconds kPatience{10'000};

// Polls rather than sleeping a fixed time, so fast runs stay fast and slow ones still pass.
inline bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = kPatience)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Returns once everything handed to the serial `queue` before this call has finished.
inline bool flush(DispatchQueue& queue, std::chrono::milliseconds timeout = kPatience)
{
    auto done = std::make_shared<std::binary_semaphore>(0);
    queue.async([done] { done->release(); });
    return done->try_acquire_for(timeout);
}

} // namespace vd::test
