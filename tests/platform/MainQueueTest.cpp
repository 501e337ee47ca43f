#include <atomic>
#include <chrono>
#include <memory>
#include <semaphore>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Waiting.h"
#include "platform/MainLoop.h"
#include "platform/MainQueue.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using test::kPatience;

TEST(MainQueue, TasksHandedInBeforeALoopExistsRunOnceOneIsInstalled)
{
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    auto record = [&](int n) {
        return [&, n] {
            order.push_back(n);
            threads.push_back(std::this_thread::get_id());
        };
    };
    MainQueue::shared()->async(record(1));
    runBlockInMainThread(record(2)); // no main thread yet, so it has to wait as well
    std::thread([&] { MainQueue::shared()->async(record(3)); }).join();
    EXPECT_TRUE(order.empty());

    MainLoop loop;
    loop.drain();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    for (const auto& id : threads)
        EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(MainQueue, TasksFromAnotherThreadRunOnTheLoopThreadInOrder)
{
    constexpr int kTasks = 2000;
    MainLoop loop;
    std::vector<int> order;
    std::atomic<int> offThread{0};
    const auto mainId = std::this_thread::get_id();
    std::thread sender([&] {
        for (int i = 0; i < kTasks; ++i) {
            MainQueue::shared()->async([&, i] {
                if (std::this_thread::get_id() != mainId)
                    ++offThread;
                order.push_back(i);
            });
        }
    });
    EXPECT_TRUE(loop.runUntil([&] { return order.size() == kTasks; }, kPatience));
    sender.join();
    loop.drain();
    ASSERT_EQ(order.size(), static_cast<std::size_t>(kTasks));
    for (int i = 0; i < kTasks; ++i)
        ASSERT_EQ(order[i], i);
    EXPECT_EQ(offThread.load(), 0);
}

TEST(MainQueue, AsyncAlwaysPostsAndRunBlockInMainThreadRunsAtOnceOnlyOnTheMainThread)
{
    MainLoop loop;
    bool posted = false;
    MainQueue::shared()->async([&] { posted = true; });
    EXPECT_FALSE(posted);
    bool atOnce = false;
    runBlockInMainThread([&] { atOnce = true; });
    EXPECT_TRUE(atOnce);

    std::atomic<bool> ranBeforeReturn{false};
    std::atomic<bool> ran{false};
    std::thread::id ranOn;
    std::thread other([&] {
        runBlockInMainThread([&] {
            ranOn = std::this_thread::get_id();
            ran = true;
        });
        ranBeforeReturn = ran.load();
    });
    other.join();
    EXPECT_FALSE(ranBeforeReturn);
    EXPECT_TRUE(loop.runUntil([&] { return ran.load(); }, kPatience));
    EXPECT_TRUE(posted);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(MainQueue, IsCurrentOnlyOnTheThreadThatInstalledTheLoop)
{
    auto main = MainQueue::shared();
    EXPECT_FALSE(main->isCurrent());
    {
        MainLoop loop;
        EXPECT_TRUE(main->isCurrent());
        bool onOther = true;
        std::thread([&] { onOther = main->isCurrent(); }).join();
        EXPECT_FALSE(onOther);
    }
    EXPECT_FALSE(main->isCurrent());

    // A loop made on another thread makes that thread the main one.
    bool currentThere = false;
    bool currentHereMeanwhile = true;
    std::binary_semaphore installed{0};
    std::binary_semaphore checked{0};
    std::thread loopThread([&] {
        MainLoop loop;
        currentThere = main->isCurrent();
        installed.release();
        (void)checked.try_acquire_for(kPatience);
    });
    ASSERT_TRUE(installed.try_acquire_for(kPatience));
    currentHereMeanwhile = main->isCurrent();
    checked.release();
    loopThread.join();
    EXPECT_TRUE(currentThere);
    EXPECT_FALSE(currentHereMeanwhile);
}

TEST(MainQueue, TasksHandedInBetweenLoopsWaitForTheNextOne)
{
    std::vector<int> order;
    {
        MainLoop first;
        MainQueue::shared()->async([&] { order.push_back(1); });
        first.drain();
    }
    MainQueue::shared()->async([&] { order.push_back(2); });
    MainQueue::shared()->async([&] { order.push_back(3); });
    EXPECT_EQ(order, std::vector<int>{1});
    MainLoop second;
    MainQueue::shared()->async([&] { order.push_back(4); });
    second.drain();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(MainQueue, WaitingTasksKeepTheirPlaceAgainstTasksHandedInDuringInstall)
{
    // One sender hands in numbered tasks without pause while the loop is installed: the ones
    // that had to wait must still run before everything the sender handed in after them. A
    // long waiting list makes the moment of install long enough to be hit.
    constexpr int kWaiting = 20000;
    constexpr int kTotal = 40000;
    constexpr int kRounds = 3;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<int> order;
        order.reserve(kTotal);
        std::atomic<int> handedIn{0};
        std::thread sender([&] {
            for (int i = 0; i < kTotal; ++i) {
                MainQueue::shared()->async([&order, i] { order.push_back(i); });
                handedIn.store(i + 1);
            }
        });
        EXPECT_TRUE(test::eventually([&] { return handedIn.load() >= kWaiting; }));
        {
            MainLoop loop;
            EXPECT_TRUE(loop.runUntil([&] { return order.size() == kTotal; }, kPatience));
            sender.join();
            loop.drain();
        }
        ASSERT_EQ(order.size(), static_cast<std::size_t>(kTotal));
        int firstMisplaced = -1;
        for (int i = 0; i < kTotal; ++i) {
            if (order[i] != i) {
                firstMisplaced = i;
                break;
            }
        }
        ASSERT_EQ(firstMisplaced, -1) << "round " << round << ": task " << order[firstMisplaced]
                                      << " ran in place " << firstMisplaced;
    }
}

TEST(MainQueue, AnUninstalledPosterIsNeitherRunningNorCalledAgain)
{
    // A loop's poster points into the loop, so once uninstall() has returned the poster must be
    // out of use: the loop is about to be destroyed.
    struct Probe {
        std::atomic<bool> retired{false};
    };
    std::atomic<int> calledLate{0};
    std::atomic<int> stillRunning{0};
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        while (!stop.load())
            MainQueue::shared()->async([] {});
    });

    const auto deadline = std::chrono::steady_clock::now() + 500ms;
    int rounds = 0;
    while (std::chrono::steady_clock::now() < deadline && calledLate.load() + stillRunning.load() == 0) {
        auto probe = std::make_shared<Probe>();
        MainQueue::install([probe, &calledLate, &stillRunning](Task) {
            if (probe->retired.load())
                ++calledLate;
            // A poster takes a moment, as one that locks and wakes a loop does.
            std::this_thread::sleep_for(20us);
            if (probe->retired.load())
                ++stillRunning;
        });
        std::this_thread::sleep_for(50us);
        MainQueue::uninstall();
        probe->retired.store(true);
        ++rounds;
    }
    stop = true;
    sender.join();
    {
        // Lets the tasks left waiting go, so none outlives this test.
        MainLoop loop;
        loop.drain();
    }
    EXPECT_EQ(calledLate.load(), 0) << "after " << rounds << " install/uninstall rounds";
    EXPECT_EQ(stillRunning.load(), 0) << "after " << rounds << " install/uninstall rounds";
}

TEST(MainLoop, CanEndAsSoonAsATaskFromAnotherThreadHasRun)
{
    // The usual end of a test: a worker hands in the last task, the loop runs it and the test
    // ends at once. Whatever the handing-in thread still does must not touch the gone loop;
    // the thread sanitizer reports it if it does. The loop spins rather than sleeps, so it
    // picks the task up the moment it is queued.
    const auto deadline = std::chrono::steady_clock::now() + 300ms;
    int rounds = 0;
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
        ++rounds;
    }
    EXPECT_GT(rounds, 0);
}

TEST(MainLoop, DrainRunsWhatTasksPostWhileDraining)
{
    MainLoop loop;
    std::vector<int> order;
    MainQueue::shared()->async([&] {
        order.push_back(1);
        MainQueue::shared()->async([&] {
            order.push_back(3);
            MainQueue::shared()->async([&] { order.push_back(4); });
        });
    });
    MainQueue::shared()->async([&] { order.push_back(2); });
    loop.drain();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(MainLoop, RunUntilNoticesAConditionChangedElsewhereWithoutAPost)
{
    MainLoop loop;
    std::atomic<bool> flag{false};
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        flag = true;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(loop.runUntil([&] { return flag.load(); }, kPatience));
    EXPECT_LT(std::chrono::steady_clock::now() - start, kPatience / 2);
    setter.join();
}

TEST(MainLoop, RunUntilGivesUpAtTheDeadlineButNotBefore)
{
    MainLoop loop;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(loop.runUntil([] { return false; }, 50ms));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 50ms);
    EXPECT_LT(took, 5s);
}

TEST(MainLoop, RunForRunsTasksThatArriveMeanwhile)
{
    MainLoop loop;
    std::atomic<bool> ran{false};
    std::thread([&] { MainQueue::shared()->async([&] { ran = true; }); }).join();
    loop.runFor(1ms);
    EXPECT_TRUE(ran);
}

} // namespace
} // namespace vd
