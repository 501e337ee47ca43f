#include <array>
#include <atomic>
#include <semaphore>
#include <thread>

#include <gtest/gtest.h>

#include "platform/DispatchQueue.h"
#include "support/Eventually.h"

namespace vd {
namespace {

using test::eventually;
using test::kPatience;

// Senders hand in tasks and the queue is dropped at once: every task still runs, in each
// sender's order, never two at a time, and what each held is released once it has run.
TEST(SerialQueue, KeepsEachSendersOrderNeverOverlapsAndOutlivesItsLastOwner)
{
    constexpr int kSenders = 4, kTasksEach = 2000;
    auto queue = SerialQueue::create("test.serial");
    // Touched only from the queue's tasks: if two ever overlapped, ThreadSanitizer would say so
    // even when the counter below happened not to.
    std::array<int, kSenders> lastSeen{};
    lastSeen.fill(-1);
    int outOfOrder = 0;
    std::atomic<int> inside{0}, overlaps{0}, ran{0};
    auto held = std::make_shared<int>(0);
    std::vector<std::jthread> senders;
    for (int sender = 0; sender < kSenders; ++sender) {
        senders.emplace_back([&, sender] {
            for (int seq = 0; seq < kTasksEach; ++seq) {
                queue->async([&, held, sender, seq] {
                    overlaps += inside.fetch_add(1) != 0;
                    outOfOrder += lastSeen[sender] >= seq;
                    lastSeen[sender] = seq;
                    if (seq % 64 == 0)
                        std::this_thread::yield(); // gives an overlapping task a chance to show
                    inside.fetch_sub(1);
                    ++ran;
                });
            }
        });
    }
    senders.clear();
    queue.reset();
    ASSERT_TRUE(eventually([&] { return ran.load() == kSenders * kTasksEach; }));
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_TRUE(eventually([&] { return held.use_count() == 1; }));
}

// Code that runs work inline when "already on" a queue would otherwise run it on another
// queue's thread, holding that queue up; and a task handed in is never run inside async().
TEST(DispatchQueue, IsCurrentOnlyInsideItsOwnTasksWhichNeverRunInsideAsync)
{
    const std::vector<std::shared_ptr<DispatchQueue>> queues = {
        SerialQueue::create("test.serial"), SerialQueue::create("test.other"), ConcurrentQueue::create("test.concurrent"), globalQueue()};
    for (std::size_t index = 0; index < queues.size(); ++index) {
        std::vector<bool> seen, expected(queues.size(), false);
        expected[index] = true;
        auto innerRan = std::make_shared<std::atomic<bool>>(false);
        bool ranInline = true;
        std::binary_semaphore done{0};
        queues[index]->async([&, innerRan] {
            for (const auto& queue : queues)
                seen.push_back(queue->isCurrent());
            // A concurrent queue may well start it at once, but on another thread.
            queues[index]->async([innerRan, outer = std::this_thread::get_id()] { *innerRan = std::this_thread::get_id() == outer; });
            ranInline = innerRan->load();
            done.release();
        });
        ASSERT_TRUE(done.try_acquire_for(kPatience));
        EXPECT_EQ(std::pair(seen, ranInline), std::pair(expected, false)) << queues[index]->label();
    }
}

} // namespace
} // namespace vd
