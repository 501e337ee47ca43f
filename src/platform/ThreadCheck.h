#pragma once

#include <atomic>
#include <mutex>
#include <thread>

// The headers say on which queue each operation runs. In debug builds (and so in the sanitizer
// builds of the test script) these macros check it at the operation's entry and abort with the
// place when the rule is broken; with NDEBUG they compile to nothing.
#ifndef NDEBUG
#define VD_THREAD_CHECKS 1
#endif

namespace vd::thread_check {

[[noreturn]] void fail(const char* rule, const char* file, int line);

} // namespace vd::thread_check

#ifdef VD_THREAD_CHECKS
// `queue` points to a DispatchQueue (a shared or a plain pointer): the caller must be running on it.
#define VD_ASSERT_ON(queue)                                                                        \
    ((queue)->isCurrent() ? void(0)                                                                \
                          : ::vd::thread_check::fail("runs on " #queue, __FILE__, __LINE__))
// `mutex` is a CheckedMutex the caller must hold.
#define VD_ASSERT_HELD(mutex)                                                                      \
    ((mutex).heldByThisThread() ? void(0)                                                          \
                                : ::vd::thread_check::fail("holds " #mutex, __FILE__, __LINE__))
#else
#define VD_ASSERT_ON(queue) void(0)
#define VD_ASSERT_HELD(mutex) void(0)
#endif

namespace vd {

// A std::mutex that, in debug builds, knows which thread holds it, so a function that must be
// called under the lock can say so with VD_ASSERT_HELD. Release builds keep only the mutex.
class CheckedMutex {
public:
    void lock()
    {
        mutex_.lock();
        setOwner(std::this_thread::get_id());
    }
    bool try_lock()
    {
        if (!mutex_.try_lock())
            return false;
        setOwner(std::this_thread::get_id());
        return true;
    }
    void unlock()
    {
        setOwner(std::thread::id());
        mutex_.unlock();
    }

#ifdef VD_THREAD_CHECKS
    bool heldByThisThread() const { return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id(); }
#endif

private:
#ifdef VD_THREAD_CHECKS
    void setOwner(std::thread::id id) { owner_.store(id, std::memory_order_relaxed); }
    std::atomic<std::thread::id> owner_;
#else
    void setOwner(std::thread::id) {}
#endif
    std::mutex mutex_;
};

} // namespace vd
