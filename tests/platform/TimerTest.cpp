#include <atomic>
#include <chrono>
#include <semaphore>
#include <string>

#include <gtest/gtest.h>

#include "platform/Timer.h"
#include "support/Eventually.h"

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

// Firings and asyncAfter tasks run on their queue, never early.
TEST(Timer, FiresOnItsQueueNeverEarlyAndAgainWhenScheduledRightAfterACancel)
{
    auto queue = SerialQueue::create("test.timer");
    // When each ran, or none when off the queue: touched on the queue only, read after a flush.
    std::vector<std::optional<Clock::duration>> firings, after(1);
    std::atomic<int> fired{0};
    const auto start = Clock::now();
    const auto now = [&] { return queue->isCurrent() ? std::optional(Clock::now() - start) : std::nullopt; };
    auto timer = Timer::create(queue, [&] {
        firings.push_back(now());
        ++fired;
    });
    timer->schedule(30ms, 20ms, kNone);
    asyncAfter(queue, 30ms, [&] { after[0] = now(); });
    ASSERT_TRUE(eventually([&] { return fired.load() >= 5; }));
    timer->cancel();
    ASSERT_TRUE(flush(*queue));
    // Firing k is due one delay and k intervals after scheduling.
    after.insert(after.end(), firings.begin(), firings.begin() + 5);
    for (std::size_t k = 0; k < after.size(); ++k)
        EXPECT_GE(after[k].value_or(0ms), 30ms + 20ms * (k == 0 ? 0 : k - 1)) << "firing " << k;

    // A cancel never reaches a schedule that follows it, however quickly.
    fired = 0;
    timer->schedule(10ms, kNone, kNone);
    timer->cancel();
    timer->schedule(kNone, kNone, kNone);
    EXPECT_TRUE(eventually([&] { return fired.load() == 1; }));
    // No handler may run, or be about to, once the test's locals it points at are gone.
    timer.reset();
    EXPECT_TRUE(flush(*queue));
}

// What a test does on the timer's own queue while firings of the old schedule wait there.
enum class Interruption { cancel, drop, reschedule };

class TimerStaleFiringTest : public ::testing::TestWithParam<Interruption> {};

TEST_P(TimerStaleFiringTest, FiringsAlreadyWaitingOnItsQueueAreDropped)
{
    auto queue = std::make_shared<CountingQueue>();
    std::atomic<int> fired{0}, firedAtMarker{-1};
    auto held = std::make_shared<int>(0);
    const std::weak_ptr<int> watch = held;
    auto timer = Timer::create(queue, [&fired, held] { ++fired; });
    held.reset();
    std::atomic<bool> firingsWaited{false};
    std::binary_semaphore done{0};
    queue->async([&] {
        timer->schedule(kNone, 1ms, kNone);
        // This task holds the queue, so firings pile up behind it (the task itself counts once).
        firingsWaited = eventually([&] { return queue->handedIn.load() >= 4; });
        switch (GetParam()) {
        case Interruption::cancel: timer->cancel(); break;
        case Interruption::drop: timer.reset(); break;
        case Interruption::reschedule: timer->schedule(30ms, kNone, kNone); break;
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
    // A repeating timer turned one-shot fires once more, then never again.
    const int expected = GetParam() == Interruption::reschedule ? 1 : 0;
    ASSERT_TRUE(eventually([&] { return fired.load() >= expected; }));
    // A task due later than any firing of the old schedule runs after them.
    asyncAfter(queue, 50ms, [&] { done.release(); });
    ASSERT_TRUE(done.try_acquire_for(kPatience));
    EXPECT_EQ(fired.load(), expected);
    timer.reset();
    EXPECT_TRUE(flush(*queue));
    // Nothing keeps a stopped timer's insides, and so its handler, alive.
    EXPECT_TRUE(eventually([&] { return watch.expired(); }));
}

std::string nameOf(const ::testing::TestParamInfo<Interruption>& info)
{
    constexpr const char* names[] = {"Cancel", "Drop", "Reschedule"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Timer, TimerStaleFiringTest, ::testing::Values(Interruption::cancel, Interruption::drop, Interruption::reschedule),
                         nameOf);

} // namespace
} // namespace vd
