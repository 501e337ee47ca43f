#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Waiting.h"
#include "platform/MainLoop.h"
#include "platform/MainQueue.h"
#include "platform/Timer.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::eventually;
using test::flush;
using test::kPatience;

constexpr Seconds kNone{0};

// A serial queue that counts what it is handed, so a test can be sure a firing is already
// waiting in the queue before it acts.
class CountingQueue final : public DispatchQueue {
public:
    CountingQueue() : DispatchQueue("test.counting"), inner_(SerialQueue::create("test.counting.inner")) {}

    void async(Task task) override
    {
        ++handedIn;
        inner_->async(std::move(task));
    }
    bool isCurrent() const override { return inner_->isCurrent(); }

    std::atomic<int> handedIn{0};

private:
    std::shared_ptr<SerialQueue> inner_;
};

// Hands tasks on to the main queue and counts the hand-offs that have returned. A loop must
// not end while another thread is still inside a hand-off to it (the main loop tests cover
// that side), so timer tests keep their loop until then.
class MainHandOff final : public DispatchQueue {
public:
    MainHandOff() : DispatchQueue("test.main-hand-off") {}

    void async(Task task) override
    {
        MainQueue::shared()->async(std::move(task));
        ++returned;
    }
    bool isCurrent() const override { return MainQueue::shared()->isCurrent(); }

    std::atomic<int> returned{0};
};

// Waits until a task handed to `queue` after `delay` has run, which also lets any firing due
// before then come through.
bool waitPast(const std::shared_ptr<DispatchQueue>& queue, Seconds delay)
{
    auto done = std::make_shared<std::binary_semaphore>(0);
    asyncAfter(queue, delay, [done] { done->release(); });
    return done->try_acquire_for(kPatience);
}

// Ends a timer so that no handler is running, or will run, once this returns: the tests'
// handlers point at the test's own locals.
void stop(std::shared_ptr<Timer>& timer, DispatchQueue& queue)
{
    timer.reset();
    EXPECT_TRUE(flush(queue));
}

TEST(Timer, OneShotFiresOnceOnItsQueueAfterTheDelay)
{
    auto queue = SerialQueue::create("test.timer");
    std::atomic<int> fired{0};
    std::atomic<bool> onQueue{false};
    Clock::time_point firedAt;
    auto timer = Timer::create(queue, [&] {
        onQueue = queue->isCurrent();
        firedAt = Clock::now();
        ++fired;
    });
    const auto start = Clock::now();
    timer->schedule(Seconds(0.03), kNone, kNone);
    ASSERT_TRUE(eventually([&] { return fired.load() == 1; }));
    ASSERT_TRUE(waitPast(queue, Seconds(0.1)));
    EXPECT_EQ(fired.load(), 1);
    EXPECT_TRUE(onQueue);
    EXPECT_GE(firedAt - start, 30ms);
    stop(timer, *queue);
}

TEST(Timer, RepeatingFiresAgainAndAgainAtTheInterval)
{
    constexpr auto kInterval = 20ms;
    constexpr int kFirings = 5;
    auto queue = SerialQueue::create("test.timer");
    std::mutex mutex;
    std::vector<Clock::time_point> times;
    auto timer = Timer::create(queue, [&] {
        std::lock_guard lock(mutex);
        times.push_back(Clock::now());
    });
    const auto start = Clock::now();
    timer->schedule(kInterval, kInterval, kNone);
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        return times.size() >= kFirings;
    }));
    stop(timer, *queue);

    std::lock_guard lock(mutex);
    for (int k = 0; k < kFirings; ++k) {
        // Never early: firing k is due one delay and k intervals after scheduling.
        EXPECT_GE(times[k] - start, kInterval * (k + 1)) << "firing " << k;
    }
    // And not wildly late either; the bound is loose for sanitizer builds on a busy machine.
    EXPECT_LT(times[kFirings - 1] - start, kInterval * kFirings + 3s);
}

TEST(Timer, CancelStopsARepeatingTimer)
{
    auto queue = SerialQueue::create("test.timer");
    std::atomic<int> fired{0};
    auto timer = Timer::create(queue, [&] { ++fired; });
    timer->schedule(kNone, Seconds(0.002), kNone);
    ASSERT_TRUE(eventually([&] { return fired.load() >= 3; }));
    timer->cancel();
    ASSERT_TRUE(flush(*queue)); // a handler that had started before the cancel is done now
    const int afterCancel = fired.load();
    ASSERT_TRUE(waitPast(queue, Seconds(0.03)));
    EXPECT_EQ(fired.load(), afterCancel);
    stop(timer, *queue);
}

// What a test does on the timer's own queue while firings of the old schedule wait there.
enum class Interruption { cancel, drop, reschedule };

class TimerStaleFiringTest : public ::testing::TestWithParam<Interruption> {};

TEST_P(TimerStaleFiringTest, FiringsAlreadyWaitingOnItsQueueAreDropped)
{
    auto queue = std::make_shared<CountingQueue>();
    std::atomic<int> fired{0};
    auto timer = Timer::create(queue, [&] { ++fired; });
    std::atomic<bool> firingsWaited{false};
    std::atomic<int> firedAtMarker{-1};
    std::binary_semaphore done{0};
    queue->async([&] {
        timer->schedule(kNone, Seconds(0.001), kNone);
        // This task holds the queue, so firings pile up behind it (the task itself counts once).
        firingsWaited = eventually([&] { return queue->handedIn.load() >= 4; });
        switch (GetParam()) {
        case Interruption::cancel: timer->cancel(); break;
        case Interruption::drop: timer.reset(); break;
        case Interruption::reschedule: timer->schedule(Seconds(0.03), kNone, kNone); break;
        }
        // Handed in after the waiting firings, so it runs after them.
        queue->async([&] {
            firedAtMarker = fired.load();
            done.release();
        });
    });
    ASSERT_TRUE(done.try_acquire_for(kPatience));
    EXPECT_TRUE(firingsWaited);
    EXPECT_EQ(firedAtMarker.load(), 0);
    const int expected = GetParam() == Interruption::reschedule ? 1 : 0;
    ASSERT_TRUE(eventually([&] { return fired.load() >= expected; }));
    ASSERT_TRUE(waitPast(queue, Seconds(0.05)));
    EXPECT_EQ(fired.load(), expected);
    if (timer)
        stop(timer, *queue);
}

INSTANTIATE_TEST_SUITE_P(Timer, TimerStaleFiringTest,
                         ::testing::Values(Interruption::cancel, Interruption::drop, Interruption::reschedule));

TEST(Timer, DroppingTheLastReferenceStopsItAndReleasesTheHandler)
{
    auto queue = SerialQueue::create("test.timer");
    std::atomic<int> fired{0};
    auto held = std::make_shared<int>(0);
    std::weak_ptr<int> watch = held;
    auto timer = Timer::create(queue, [&fired, held] { ++fired; });
    held.reset();
    timer->schedule(kNone, Seconds(0.002), kNone);
    ASSERT_TRUE(eventually([&] { return fired.load() >= 2; }));

    timer.reset();
    ASSERT_TRUE(flush(*queue));
    const int afterDrop = fired.load();
    ASSERT_TRUE(waitPast(queue, Seconds(0.03)));
    EXPECT_EQ(fired.load(), afterDrop);
    // Nothing keeps the timer's insides alive once it is stopped.
    EXPECT_TRUE(eventually([&] { return watch.expired(); }));
}

TEST(Timer, OneNeverScheduledReleasesItsHandler)
{
    auto held = std::make_shared<int>(0);
    std::weak_ptr<int> watch = held;
    auto timer = Timer::create(SerialQueue::create("test.timer"), [held] {});
    held.reset();
    timer.reset();
    EXPECT_TRUE(eventually([&] { return watch.expired(); }));
}

TEST(Timer, ReschedulingReplacesAScheduleNotYetDue)
{
    auto queue = SerialQueue::create("test.timer");
    std::atomic<int> fired{0};
    Clock::time_point firedAt;
    auto timer = Timer::create(queue, [&] {
        firedAt = Clock::now();
        ++fired;
    });
    timer->schedule(Seconds(0.01), kNone, kNone);
    const auto rescheduled = Clock::now();
    timer->schedule(Seconds(0.08), kNone, kNone);
    ASSERT_TRUE(eventually([&] { return fired.load() >= 1; }));
    ASSERT_TRUE(waitPast(queue, Seconds(0.05)));
    EXPECT_EQ(fired.load(), 1);
    EXPECT_GE(firedAt - rescheduled, 80ms);
    stop(timer, *queue);
}

TEST(Timer, ReschedulingARepeatingTimerAsOneShotFiresOnlyOnceMore)
{
    auto queue = SerialQueue::create("test.timer");
    std::atomic<int> fired{0};
    auto timer = Timer::create(queue, [&] { ++fired; });
    timer->schedule(kNone, Seconds(0.002), kNone);
    ASSERT_TRUE(eventually([&] { return fired.load() >= 2; }));

    std::atomic<int> before{-1};
    std::binary_semaphore rescheduled{0};
    // On the queue itself, so no firing of the old schedule is halfway through.
    queue->async([&] {
        before = fired.load();
        timer->schedule(Seconds(0.02), kNone, kNone);
        rescheduled.release();
    });
    ASSERT_TRUE(rescheduled.try_acquire_for(kPatience));
    ASSERT_TRUE(eventually([&] { return fired.load() >= before.load() + 1; }));
    ASSERT_TRUE(waitPast(queue, Seconds(0.05)));
    EXPECT_EQ(fired.load(), before.load() + 1);
    stop(timer, *queue);
}

TEST(Timer, CanBeScheduledAgainRightAfterCancel)
{
    auto queue = SerialQueue::create("test.timer");
    std::atomic<int> fired{0};
    auto timer = Timer::create(queue, [&] { ++fired; });
    // Cancelling what was never scheduled is harmless.
    timer->cancel();
    timer->cancel();
    // The cancel must not reach the new schedule, however quickly it follows.
    timer->schedule(Seconds(0.005), kNone, kNone);
    timer->cancel();
    timer->schedule(Seconds(0.01), kNone, kNone);
    ASSERT_TRUE(eventually([&] { return fired.load() >= 1; }, 5s));
    ASSERT_TRUE(waitPast(queue, Seconds(0.05)));
    EXPECT_EQ(fired.load(), 1);

    // And once more after it has fired and been cancelled.
    timer->cancel();
    timer->schedule(kNone, kNone, kNone);
    EXPECT_TRUE(eventually([&] { return fired.load() == 2; }, 5s));
    stop(timer, *queue);
}

TEST(Timer, TimerAndAsyncAfterReachTheMainThroughTheMainQueue)
{
    MainLoop loop;
    int fired = 0;
    bool ran = false;
    bool onMain = false;
    bool ranOnMain = false;
    std::thread::id firedOn;
    auto main = std::make_shared<MainHandOff>();
    auto timer = Timer::create(main, [&] {
        ++fired;
        onMain = MainQueue::shared()->isCurrent();
        firedOn = std::this_thread::get_id();
    });
    timer->schedule(Seconds(0.005), kNone, kNone);
    asyncAfter(main, Seconds(0.005), [&] {
        ran = true;
        ranOnMain = MainQueue::shared()->isCurrent();
    });
    EXPECT_TRUE(loop.runUntil([&] { return fired == 1 && ran && main->returned.load() == 2; }, kPatience));
    EXPECT_TRUE(onMain);
    EXPECT_TRUE(ranOnMain);
    EXPECT_EQ(firedOn, std::this_thread::get_id());
    timer.reset();
    loop.drain();
}

TEST(AsyncAfter, RunsOnTheQueueOnceTheDelayHasPassed)
{
    auto queue = SerialQueue::create("test.after");
    std::atomic<bool> onQueue{false};
    Clock::time_point ranAt;
    std::binary_semaphore done{0};
    const auto start = Clock::now();
    asyncAfter(queue, Seconds(0.03), [&] {
        onQueue = queue->isCurrent();
        ranAt = Clock::now();
        done.release();
    });
    ASSERT_TRUE(done.try_acquire_for(kPatience));
    EXPECT_TRUE(onQueue);
    EXPECT_GE(ranAt - start, 30ms);
}

} // namespace
} // namespace vd
