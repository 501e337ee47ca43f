#include <future>

#include <gtest/gtest.h>

#include "platform/DispatchQueue.h"
#include "platform/ThreadCheck.h"

namespace vd {
namespace {

// With NDEBUG the checks compile to nothing, and there is nothing to test.
#ifdef VD_THREAD_CHECKS

// Each rule holds where it is kept and aborts elsewhere; another thread does not hold a mutex
// just because someone does.
TEST(ThreadCheckDeathTest, QueueAndMutexRulesHoldWhereKeptAndAbortElsewhere)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto queue = SerialQueue::create("VD.Test.ThreadCheck");
    std::promise<void> ran;
    queue->async([&] {
        VD_ASSERT_ON(queue);
        ran.set_value();
    });
    ran.get_future().get();
    EXPECT_DEATH(VD_ASSERT_ON(queue), "threading rule broken: the caller must be the one that runs on queue");
    CheckedMutex mutex;
    {
        std::lock_guard lock(mutex);
        VD_ASSERT_HELD(mutex);
        auto elsewhere = std::async(std::launch::async, [&] { return mutex.heldByThisThread(); });
        EXPECT_FALSE(elsewhere.get());
    }
    EXPECT_DEATH(VD_ASSERT_HELD(mutex), "holds mutex");
}

#endif

} // namespace
} // namespace vd
