#include <array>
#include <atomic>
#include <memory>
#include <semaphore>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Waiting.h"
#include "platform/DispatchQueue.h"

namespace vd {
namespace {

using test::eventually;
using test::flush;
using test::kPatience;

TEST(SerialQueue, KeepsEachSendersOrderAndNeverOverlaps)
{
    constexpr int kSenders = 4;
    constexpr int kTasksEach = 2000;
    auto queue = SerialQueue::create("test.serial");

    // Touched only from the queue's tasks: if two ever overlapped, ThreadSanitizer would say so
    // even when the counter below happened not to.
    std::array<int, kSenders> lastSeen{};
    lastSeen.fill(-1);
    int outOfOrder = 0;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> finished{0};

    std::vector<std::thread> senders;
    for (int sender = 0; sender < kSenders; ++sender) {
        senders.emplace_back([&, sender] {
            for (int seq = 0; seq < kTasksEach; ++seq) {
                queue->async([&, sender, seq] {
                    if (inside.fetch_add(1) != 0)
                        ++overlaps;
                    if (lastSeen[sender] >= seq)
                        ++outOfOrder;
                    lastSeen[sender] = seq;
                    // Give an overlapping task a chance to show up.
                    if (seq % 64 == 0)
                        std::this_thread::yield();
                    inside.fetch_sub(1);
                    ++finished;
                });
            }
        });
    }
    for (auto& sender : senders)
        sender.join();

    ASSERT_TRUE(eventually([&] { return finished.load() == kSenders * kTasksEach; }));
    ASSERT_TRUE(flush(*queue));
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(outOfOrder, 0);
    for (int sender = 0; sender < kSenders; ++sender)
        EXPECT_EQ(lastSeen[sender], kTasksEach - 1);
}

TEST(SerialQueue, IsCurrentOnlyInsideItsOwnTasks)
{
    auto first = SerialQueue::create("test.first");
    auto second = SerialQueue::create("test.second");
    EXPECT_FALSE(first->isCurrent());

    std::atomic<bool> firstInFirst{false}, secondInFirst{true}, firstInSecond{true}, firstInGlobal{true};
    std::binary_semaphore done{0};
    first->async([&] {
        firstInFirst = first->isCurrent();
        secondInFirst = second->isCurrent();
        second->async([&] {
            firstInSecond = first->isCurrent();
            globalQueue()->async([&] {
                firstInGlobal = first->isCurrent();
                done.release();
            });
        });
    });
    ASSERT_TRUE(done.try_acquire_for(kPatience));
    EXPECT_TRUE(firstInFirst);
    EXPECT_FALSE(secondInFirst);
    EXPECT_FALSE(firstInSecond);
    EXPECT_FALSE(firstInGlobal);
}

TEST(SerialQueue, NeverRunsATaskInsideAsync)
{
    auto queue = SerialQueue::create("test.later");
    std::atomic<bool> ranInline{true};
    std::atomic<bool> innerRan{false};
    queue->async([&] {
        queue->async([&] { innerRan = true; });
        ranInline = innerRan.load();
    });
    // The inner task is handed in after the first flush, so it takes a second one to see it.
    ASSERT_TRUE(flush(*queue));
    ASSERT_TRUE(flush(*queue));
    EXPECT_FALSE(ranInline);
    EXPECT_TRUE(innerRan);
}

TEST(SerialQueue, TwoQueuesRunInParallel)
{
    auto first = SerialQueue::create("test.first");
    auto second = SerialQueue::create("test.second");
    std::binary_semaphore secondRan{0};
    std::atomic<bool> sawSecond{false};
    std::binary_semaphore done{0};

    // The first queue waits for the second: if the two shared one thread of execution, the
    // wait could only end by timing out.
    first->async([&] {
        sawSecond = secondRan.try_acquire_for(kPatience);
        done.release();
    });
    second->async([&] { secondRan.release(); });
    ASSERT_TRUE(done.try_acquire_for(2 * kPatience));
    EXPECT_TRUE(sawSecond);
}

TEST(SerialQueue, TasksStillRunWhenTheQueueIsDroppedRightAfter)
{
    constexpr int kTasks = 100;
    std::atomic<int> ran{0};
    std::atomic<int> outOfOrder{0};
    auto counter = std::make_shared<int>(0);
    {
        auto queue = SerialQueue::create("test.dropped");
        for (int i = 0; i < kTasks; ++i) {
            queue->async([&, counter, i] {
                if (*counter != i)
                    ++outOfOrder;
                ++*counter;
                ++ran;
            });
        }
    }
    ASSERT_TRUE(eventually([&] { return ran.load() == kTasks; }));
    EXPECT_EQ(outOfOrder.load(), 0);
    // Every task and what it held is released once it has run.
    EXPECT_TRUE(eventually([&] { return counter.use_count() == 1; }));
}

TEST(ConcurrentQueue, RunsEveryTaskHandedInFromSeveralThreads)
{
    constexpr int kSenders = 4;
    constexpr int kTasksEach = 1000;
    auto queue = ConcurrentQueue::create("test.concurrent");
    std::atomic<int> ran{0};
    std::vector<std::thread> senders;
    for (int sender = 0; sender < kSenders; ++sender) {
        senders.emplace_back([&] {
            for (int i = 0; i < kTasksEach; ++i)
                queue->async([&] { ++ran; });
        });
    }
    for (auto& sender : senders)
        sender.join();
    EXPECT_TRUE(eventually([&] { return ran.load() == kSenders * kTasksEach; }));
}

TEST(ConcurrentQueue, RunsTasksSeveralAtOnce)
{
    auto queue = ConcurrentQueue::create("test.concurrent");
    std::atomic<int> started{0};
    std::atomic<int> sawTheOther{0};
    std::atomic<int> finished{0};
    for (int i = 0; i < 2; ++i) {
        queue->async([&] {
            ++started;
            if (eventually([&] { return started.load() == 2; }))
                ++sawTheOther;
            ++finished;
        });
    }
    ASSERT_TRUE(eventually([&] { return finished.load() == 2; }, 2 * kPatience));
    EXPECT_EQ(sawTheOther.load(), 2);
}

// Code that runs work inline when "already on" a concurrent queue would otherwise run it on a
// serial queue's thread, holding that queue up.
TEST(ConcurrentQueue, IsCurrentInsideItsOwnTasksOnly)
{
    auto serial = SerialQueue::create("test.serial");
    auto concurrent = ConcurrentQueue::create("test.concurrent");
    EXPECT_FALSE(concurrent->isCurrent());
    EXPECT_FALSE(globalQueue()->isCurrent());
    std::atomic<bool> inItsOwn{false}, globalInSerial{true}, concurrentInSerial{true}, concurrentInGlobal{true};
    std::binary_semaphore done{0};
    serial->async([&] {
        globalInSerial = globalQueue()->isCurrent();
        concurrentInSerial = concurrent->isCurrent();
        globalQueue()->async([&] {
            concurrentInGlobal = concurrent->isCurrent();
            concurrent->async([&] {
                inItsOwn = concurrent->isCurrent();
                done.release();
            });
        });
    });
    ASSERT_TRUE(done.try_acquire_for(kPatience));
    EXPECT_TRUE(inItsOwn);
    EXPECT_FALSE(globalInSerial);
    EXPECT_FALSE(concurrentInSerial);
    EXPECT_FALSE(concurrentInGlobal);
}

} // namespace
} // namespace vd
