#include <future>

#include <gtest/gtest.h>

#include "platform/DispatchQueue.h"
#include "platform/ThreadCheck.h"

namespace vd {
namespace {

// With NDEBUG the checks compile to nothing, and there is nothing to test.
#ifdef VD_THREAD_CHECKS

class ThreadCheckDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ThreadCheckDeathTest, QueueRuleHoldsOnItsQueueAndAbortsElsewhere)
{
    auto queue = SerialQueue::create("VD.Test.ThreadCheck");
    std::promise<void> ran;
    queue->async([&] {
        VD_ASSERT_ON(queue);
        ran.set_value();
    });
    ran.get_future().get();
    EXPECT_DEATH(VD_ASSERT_ON(queue), "threading rule broken: the caller must be the one that runs on queue");
}

TEST_F(ThreadCheckDeathTest, MutexRuleKnowsTheHolder)
{
    CheckedMutex mutex;
    {
        std::lock_guard lock(mutex);
        VD_ASSERT_HELD(mutex);
        // Another thread does not hold it just because someone does.
        auto elsewhere = std::async(std::launch::async, [&] { return mutex.heldByThisThread(); });
        EXPECT_FALSE(elsewhere.get());
    }
    EXPECT_DEATH(VD_ASSERT_HELD(mutex), "holds mutex");
}

#endif

} // namespace
} // namespace vd
