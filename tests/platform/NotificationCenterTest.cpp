#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "platform/NotificationCenter.h"
#include "support/Eventually.h"

namespace vd {
namespace {

using namespace std::chrono_literals;
using test::eventually;
using Seen = std::vector<std::string>;

TEST(NotificationCenter, DeliversBeforePostReturnsOnThePostingThreadToObserversOfExactlyThatNameAndObject)
{
    auto center = NotificationCenter::create();
    const int deviceA = 0, deviceB = 0;
    Seen seen; // who saw it, from which device, with which payload
    std::thread::id deliveredOn;
    std::vector<ObservationToken> tokens;
    for (const auto& [name, object, who] : {std::tuple<const char*, const void*, std::string>{"connected", nullptr, "any1"},
                                            {"connected", nullptr, "any2"}, {"disconnected", nullptr, "other"}, {"connected", &deviceA, "onlyA"}}) {
        tokens.push_back(center->addObserver(name, object, [&, who = who](const Notification& n) {
            const std::string payload = n.userInfo.has_value() ? " " + std::to_string(std::any_cast<int>(n.userInfo)) : "";
            seen.push_back(who + (n.object == &deviceA ? " A" : n.object == &deviceB ? " B" : "") + payload);
            deliveredOn = std::this_thread::get_id();
        }));
    }
    for (const char* name : {"Connected", "connect", "connected ", ""})
        center->post(name);
    center->post("connected", &deviceA, 42);
    EXPECT_EQ(seen, (Seen{"any1 A 42", "any2 A 42", "onlyA A 42"}));
    seen.clear();
    std::thread([&] {
        center->post(Notification{"connected", &deviceB, {}});
        EXPECT_EQ(std::pair(seen, deliveredOn), std::pair(Seen{"any1 B", "any2 B"}, std::this_thread::get_id()));
    }).join();
}

// A callback may observe, post and end observations, its own included, without deadlock; a
// token ends its observation when dropped, reset or replaced, never when moved, and may outlive
// its centre.
TEST(ObservationToken, EndsItsObservationWhenDroppedEvenFromInsideACallback)
{
    auto center = NotificationCenter::create();
    int inner = 0, own = 0, pair = 0, moved = 0, replaced = 0;
    std::vector<ObservationToken> added;
    auto innerToken = center->addObserver("inner", nullptr, [&](const Notification&) { ++inner; });
    auto outerToken = center->addObserver("outer", nullptr, [&](const Notification&) {
        added.push_back(center->addObserver("later", nullptr, [](const Notification&) {}));
        center->post("inner");
    });
    center->post("outer");
    EXPECT_EQ(std::pair(inner, added.size()), std::pair(1, std::size_t{1}));
    std::optional<ObservationToken> token = center->addObserver("own", nullptr, [&](const Notification&) { ++own; token.reset(); });
    center->post("own");
    center->post("own");
    EXPECT_EQ(own, 1);
    // Each removes the other, so whichever runs first, the second must stay silent.
    ObservationToken a, b;
    a = center->addObserver("pair", nullptr, [&](const Notification&) { ++pair; b.reset(); });
    b = center->addObserver("pair", nullptr, [&](const Notification&) { ++pair; a.reset(); });
    center->post("pair");
    EXPECT_EQ(pair, 1);

    auto original = center->addObserver("n", nullptr, [&](const Notification&) { ++moved; });
    auto target = center->addObserver("n", nullptr, [&](const Notification&) { ++replaced; });
    target = std::move(original); // ends the observation target held, not the one it takes
    original.reset();             // must not end what it no longer holds
    center->post("n");
    center.reset();
    target.reset(); // outliving its centre, harmlessly
    EXPECT_EQ(std::pair(moved, replaced), std::pair(1, 0));
}

// Observers come and go while several threads post. Each visitor's counter is freed right after
// its token goes, so a callback entered late, or still running after the drop returned, is a use
// after free the sanitizers report, besides counting as late.
TEST(NotificationCenter, ObserversComeAndGoWhileSeveralThreadsPost)
{
    constexpr int kPosters = 2, kChurners = 2, kRoundsEach = 300;
    auto center = NotificationCenter::create();
    // One observer stays the whole time and must see every post, however the list changes.
    std::atomic<long> posted{0}, seenByResident{0}, late{0}, deliveredToVisitors{0};
    auto resident = center->addObserver("tick", nullptr, [&](const Notification&) { ++seenByResident; });
    std::vector<std::jthread> posters, churners;
    for (int p = 0; p < kPosters; ++p) {
        posters.emplace_back([&](std::stop_token stop) {
            for (; !stop.stop_requested(); ++posted)
                center->post("tick");
        });
    }
    for (int c = 0; c < kChurners; ++c) {
        churners.emplace_back([&, c] {
            for (int round = 0; round < kRoundsEach; ++round) {
                auto retired = std::make_shared<std::atomic<bool>>(false);
                // Freed right after the token goes, so a late callback is a use after free.
                auto* box = new std::atomic<int>(0);
                auto token = center->addObserver("tick", nullptr, [retired, box, &late, &deliveredToVisitors](const Notification&) {
                    late += retired->load();
                    ++*box;
                    ++deliveredToVisitors;
                });
                if ((round + c) % 3 == 0)
                    eventually([&] { return box->load() > 0; }, 100ms);
                token.reset();
                *retired = true;
                delete box;
            }
        });
    }
    churners.clear(); // each ends after its rounds
    posters.clear();
    EXPECT_EQ(late.load(), 0);
    EXPECT_GT(deliveredToVisitors.load(), 0);
    EXPECT_EQ(seenByResident.load(), posted.load());
}

} // namespace
} // namespace vd
