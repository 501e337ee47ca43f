#include <any>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Waiting.h"
#include "platform/NotificationCenter.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using test::eventually;

TEST(NotificationCenter, DeliversOnThePostingThreadBeforePostReturns)
{
    auto center = NotificationCenter::create();
    std::atomic<int> calls{0};
    std::thread::id deliveredOn;
    std::string name;
    const void* object = nullptr;
    int payload = 0;
    auto token = center->addObserver("changed", nullptr, [&](const Notification& n) {
        deliveredOn = std::this_thread::get_id();
        name = n.name;
        object = n.object;
        payload = n.userInfo.has_value() ? std::any_cast<int>(n.userInfo) : -1;
        ++calls;
    });

    const int poster = 0;
    center->post("changed", &poster, 42);
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(deliveredOn, std::this_thread::get_id());
    EXPECT_EQ(name, "changed");
    EXPECT_EQ(object, &poster);
    EXPECT_EQ(payload, 42);

    bool deliveredBeforeReturn = false;
    std::thread::id otherId;
    std::thread other([&] {
        otherId = std::this_thread::get_id();
        center->post(Notification{"changed", nullptr, {}});
        deliveredBeforeReturn = calls.load() == 2;
    });
    other.join();
    EXPECT_TRUE(deliveredBeforeReturn);
    EXPECT_EQ(deliveredOn, otherId);
    EXPECT_EQ(payload, -1);
}

TEST(NotificationCenter, DeliversToEveryObserverOfExactlyThatNameAndObject)
{
    auto center = NotificationCenter::create();
    const int deviceA = 0, deviceB = 0;
    int first = 0, second = 0, other = 0;
    std::vector<const void*> onlyA;
    auto a = center->addObserver("connected", nullptr, [&](const Notification&) { ++first; });
    auto b = center->addObserver("connected", nullptr, [&](const Notification&) { ++second; });
    auto c = center->addObserver("disconnected", nullptr, [&](const Notification&) { ++other; });
    auto d = center->addObserver("connected", &deviceA, [&](const Notification& n) { onlyA.push_back(n.object); });

    for (const char* name : {"connected", "Connected", "connect", "connected ", ""})
        center->post(name);
    center->post("connected", &deviceA);
    center->post("connected", &deviceB);
    EXPECT_EQ(first, 3);
    EXPECT_EQ(second, 3);
    EXPECT_EQ(other, 0);
    EXPECT_EQ(onlyA, (std::vector<const void*>{&deviceA}));
}

TEST(NotificationCenter, ACallbackMayObserveAndPostWithoutDeadlock)
{
    auto center = NotificationCenter::create();
    int inner = 0;
    std::vector<ObservationToken> added;
    auto innerToken = center->addObserver("inner", nullptr, [&](const Notification&) { ++inner; });
    auto outerToken = center->addObserver("outer", nullptr, [&](const Notification&) {
        added.push_back(center->addObserver("later", nullptr, [](const Notification&) {}));
        center->post("inner");
    });
    center->post("outer");
    EXPECT_EQ(inner, 1);
    EXPECT_EQ(added.size(), 1u);
}

TEST(ObservationToken, DestroyingOrResettingItStopsDelivery)
{
    auto center = NotificationCenter::create();
    int scoped = 0, reset = 0;
    {
        auto token = center->addObserver("n", nullptr, [&](const Notification&) { ++scoped; });
        center->post("n");
    }
    auto token = center->addObserver("n", nullptr, [&](const Notification&) { ++reset; });
    center->post("n");
    token.reset();
    EXPECT_FALSE(token);
    center->post("n");
    token.reset(); // a second reset does nothing
    EXPECT_EQ(scoped, 1);
    EXPECT_EQ(reset, 1);
}

TEST(ObservationToken, MovingCarriesTheObservationAndAssigningEndsTheOldOne)
{
    auto center = NotificationCenter::create();
    int moved = 0, replaced = 0;
    auto original = center->addObserver("n", nullptr, [&](const Notification&) { ++moved; });
    ObservationToken carrier = std::move(original);
    EXPECT_FALSE(original);
    EXPECT_TRUE(carrier);
    original.reset(); // must not end what it no longer holds
    center->post("n");
    EXPECT_EQ(moved, 1);

    auto target = center->addObserver("n", nullptr, [&](const Notification&) { ++replaced; });
    target = std::move(carrier);
    center->post("n");
    EXPECT_EQ(moved, 2);
    EXPECT_EQ(replaced, 0);

    ObservationToken& same = target;
    target = std::move(same); // assigning a token to itself keeps the observation
    center->post("n");
    EXPECT_EQ(moved, 3);
}

TEST(ObservationToken, ACallbackMayDropItsOwnTokenOrOneLaterInTheSamePost)
{
    auto center = NotificationCenter::create();
    int calls = 0;
    std::optional<ObservationToken> token;
    token = center->addObserver("own", nullptr, [&](const Notification&) {
        ++calls;
        token.reset(); // destroys the token while its callback runs
    });
    center->post("own");
    center->post("own");
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(token.has_value());

    // Each removes the other, so whichever runs first, the second must stay silent.
    ObservationToken a, b;
    a = center->addObserver("n", nullptr, [&](const Notification&) {
        ++calls;
        b.reset();
    });
    b = center->addObserver("n", nullptr, [&](const Notification&) {
        ++calls;
        a.reset();
    });
    center->post("n");
    EXPECT_EQ(calls, 2);
}

TEST(ObservationToken, OutlivingItsCenterIsHarmless)
{
    auto center = NotificationCenter::create();
    int calls = 0;
    auto token = center->addObserver("n", nullptr, [&](const Notification&) { ++calls; });
    center.reset();
    EXPECT_TRUE(token);
    token.reset();
    EXPECT_EQ(calls, 0);
}

TEST(ObservationToken, DroppingItWaitsForItsCallbackRunningOnAnotherThread)
{
    auto center = NotificationCenter::create();
    std::atomic<bool> entered{false};
    std::atomic<bool> dropping{false};
    std::atomic<bool> finished{false};
    std::atomic<int> calls{0};
    auto token = center->addObserver("n", nullptr, [&](const Notification&) {
        ++calls;
        entered = true;
        // Keep going for a while after the other thread has started to drop the token.
        eventually([&] { return dropping.load(); });
        std::this_thread::sleep_for(30ms);
        finished = true;
    });
    std::thread poster([&] { center->post("n"); });
    ASSERT_TRUE(eventually([&] { return entered.load(); }));
    dropping = true;
    token.reset();
    const bool finishedFirst = finished.load();
    poster.join();
    EXPECT_TRUE(finishedFirst) << "the token was gone while its callback still ran";

    std::thread again([&] { center->post("n"); });
    again.join();
    EXPECT_EQ(calls.load(), 1);
}

TEST(NotificationCenter, ObserversComeAndGoWhileSeveralThreadsPost)
{
    constexpr int kPosters = 2;
    constexpr int kChurners = 2;
    constexpr int kRoundsEach = 300;
    auto center = NotificationCenter::create();

    // One observer stays the whole time and must see every post, however the list changes.
    std::atomic<long> posted{0};
    std::atomic<long> seenByResident{0};
    auto resident = center->addObserver("tick", nullptr, [&](const Notification&) { ++seenByResident; });

    struct Probe {
        std::atomic<bool> retired{false};
    };
    std::atomic<int> late{0};
    std::atomic<long> deliveredToVisitors{0};
    std::atomic<bool> stop{false};

    std::vector<std::thread> threads;
    for (int p = 0; p < kPosters; ++p) {
        threads.emplace_back([&] {
            while (!stop.load()) {
                center->post("tick");
                ++posted;
            }
        });
    }
    std::atomic<int> churnersDone{0};
    for (int c = 0; c < kChurners; ++c) {
        threads.emplace_back([&, c] {
            for (int round = 0; round < kRoundsEach; ++round) {
                auto probe = std::make_shared<Probe>();
                // Freed right after the token goes, so a late callback is a use after free.
                auto* box = new std::atomic<int>(0);
                auto token = center->addObserver("tick", nullptr, [probe, box, &late, &deliveredToVisitors](const Notification&) {
                    if (probe->retired.load())
                        ++late;
                    ++*box;
                    ++deliveredToVisitors;
                });
                if ((round + c) % 3 == 0)
                    eventually([&] { return box->load() > 0; }, 100ms);
                token.reset();
                probe->retired = true;
                delete box;
            }
            ++churnersDone;
        });
    }
    EXPECT_TRUE(eventually([&] { return churnersDone.load() == kChurners; }));
    stop = true;
    for (auto& thread : threads)
        thread.join();

    EXPECT_EQ(late.load(), 0);
    EXPECT_GT(deliveredToVisitors.load(), 0);
    EXPECT_EQ(seenByResident.load(), posted.load());
}

} // namespace
} // namespace vd
