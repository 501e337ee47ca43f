#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/MainLoop.h"
#include "platform/MainQueue.h"
#include "support/Eventually.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using test::kPatience;

// One walk through a main thread's life: before a loop, with one, between two. Tasks wait for a
// loop and run on its thread in order; only runBlockInMainThread on the main thread runs at once.
TEST(MainQueue, TasksWaitForALoopAndRunOnItsThreadInOrder)
{
    auto main = MainQueue::shared();
    std::vector<int> order; // touched on this thread only, or before the other thread is joined
    std::vector<std::thread::id> threads;
    auto record = [&](int n) {
        return [&, n] {
            order.push_back(n);
            threads.push_back(std::this_thread::get_id());
        };
    };
    EXPECT_FALSE(main->isCurrent());
    main->async(record(1));
    runBlockInMainThread(record(2)); // no main thread yet, so it has to wait as well
    std::thread([&] { main->async(record(3)); }).join();
    EXPECT_TRUE(order.empty());
    {
        MainLoop loop;
        EXPECT_TRUE(main->isCurrent());
        // What a task posts while the loop drains runs in the same drain, after what came before.
        main->async([&] { main->async(record(5)); });
        std::thread([&] { runBlockInMainThread(record(4)); }).join();
        EXPECT_TRUE(order.empty()) << "async never runs a task at once, nor does another thread";
        loop.drain();
        runBlockInMainThread(record(6));
        EXPECT_EQ(order.size(), 6u) << "on the main thread it does";
    }
    EXPECT_FALSE(main->isCurrent());
    main->async(record(7)); // between two loops
    MainLoop next;
    next.drain();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(std::count(threads.begin(), threads.end(), std::this_thread::get_id()), 7);
}

TEST(MainQueue, WaitingTasksKeepTheirPlaceAgainstTasksHandedInDuringInstall)
{
    // One sender hands in numbered tasks without pause while the loop is installed: the ones
    // that had to wait must still run before everything the sender handed in after them. A
    // long waiting list makes the moment of install long enough to be hit.
    constexpr int kWaiting = 20000, kTotal = 40000;
    for (int round = 0; round < 3; ++round) {
        std::vector<int> order;
        order.reserve(kTotal);
        std::atomic<int> handedIn{0};
        std::thread sender([&] {
            for (int i = 0; i < kTotal; handedIn.store(++i))
                MainQueue::shared()->async([&order, i] { order.push_back(i); });
        });
        EXPECT_TRUE(test::eventually([&] { return handedIn.load() >= kWaiting; }));
        {
            MainLoop loop;
            EXPECT_TRUE(loop.runUntil([&] { return order.size() == kTotal; }, kPatience));
            sender.join();
            loop.drain();
        }
        ASSERT_EQ(order.size(), static_cast<std::size_t>(kTotal));
        const auto misplaced = std::adjacent_find(order.begin(), order.end(), [](int a, int b) { return b != a + 1; });
        ASSERT_EQ(misplaced, order.end()) << "round " << round << ": task " << misplaced[1] << " ran after " << *misplaced;
    }
}

TEST(MainQueue, AnUninstalledPosterIsNeitherRunningNorCalledAgain)
{
    // A loop's poster points into the loop, so once uninstall() has returned the poster must be
    // out of use: the loop is about to be destroyed.
    std::atomic<int> calledLate{0}, stillRunning{0};
    std::jthread sender([](std::stop_token stop) {
        while (!stop.stop_requested())
            MainQueue::shared()->async([] {});
    });
    const auto deadline = std::chrono::steady_clock::now() + 500ms;
    int rounds = 0;
    for (; std::chrono::steady_clock::now() < deadline && calledLate.load() + stillRunning.load() == 0; ++rounds) {
        auto retired = std::make_shared<std::atomic<bool>>(false);
        MainQueue::install([retired, &calledLate, &stillRunning](Task) {
            calledLate += retired->load();
            // A poster takes a moment, as one that locks and wakes a loop does.
            std::this_thread::sleep_for(20us);
            stillRunning += retired->load();
        });
        std::this_thread::sleep_for(50us); // lets the sender reach the poster; no event to await
        MainQueue::uninstall();
        *retired = true;
    }
    sender.request_stop();
    sender.join();
    MainLoop().drain(); // lets the tasks left waiting go, so none outlives this test
    EXPECT_EQ(calledLate.load() + stillRunning.load(), 0) << "after " << rounds << " install/uninstall rounds";
}

// The usual end of a test: a worker hands in the last task, the loop runs it and the test ends
// at once. Whatever the handing-in thread still does must not touch the gone loop; the thread
// sanitizer reports it if it does. The loop spins rather than sleeps, so it picks the task up
// the moment it is queued.
TEST(MainLoop, CanEndAsSoonAsATaskFromAnotherThreadHasRun)
{
    const auto deadline = std::chrono::steady_clock::now() + 300ms;
    while (std::chrono::steady_clock::now() < deadline) {
        auto loop = std::make_unique<MainLoop>();
        std::atomic<bool> ran{false};
        std::thread sender([&] { MainQueue::shared()->async([&] { ran = true; }); });
        const auto giveUp = std::chrono::steady_clock::now() + kPatience;
        while (!ran.load() && std::chrono::steady_clock::now() < giveUp)
            loop->drain();
        loop.reset();
        sender.join();
        ASSERT_TRUE(ran.load());
    }
}

} // namespace
} // namespace vd
