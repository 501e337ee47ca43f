#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "views/VDTopTalkers.h"
#include "views/VDTrafficHistory.h"

namespace vd {
namespace {

using Entries = std::vector<VDTopTalkers::Entry>;

std::vector<double> timesOf(const VDTrafficHistory& history)
{
    std::vector<double> times;
    for (std::size_t i = 0; i < history.size(); ++i)
        times.push_back(history.at(i).time);
    return times;
}

TEST(TrafficHistoryTest, HoldsTenMinutesAtMostAndNeverMoreThanItsCapacity)
{
    struct Case {
        const char* what;
        double interval;
        int reports;
        std::size_t held;
        double oldest;
    };
    for (const Case& c : {Case{"a report a second for 20 minutes", 1.0, 1200, 601, 599},
                          Case{"five reports a second outrun the ring before ten minutes", 0.2, 4000, VDTrafficHistory::kCapacity,
                               (4000 - VDTrafficHistory::kCapacity) * 0.2},
                          Case{"a few reports", 1.0, 3, 3, 0}}) {
        VDTrafficHistory history;
        for (int i = 0; i < c.reports; ++i) {
            history.append({i * c.interval, i, 2 * i});
            ASSERT_LE(history.size(), VDTrafficHistory::kCapacity) << c.what;
        }
        EXPECT_EQ(history.size(), c.held) << c.what;
        EXPECT_NEAR(history.at(0).time, c.oldest, 1e-6) << c.what;
        EXPECT_EQ(history.newest().download, 2 * (c.reports - 1)) << c.what;
    }

    VDTrafficHistory history;
    history.append({0, 5, 5});
    history.append({10, 7, 7});
    history.append({10 + 601, 1, 1});
    EXPECT_EQ(timesOf(history), std::vector<double>{611}) << "after a long silence only the new point is in the window";
}

TEST(TrafficHistoryTest, BadTimesAndSpeedsFromTheServiceCannotBendTheSeries)
{
    VDTrafficHistory history;
    history.append({100, 10, -5});
    history.append({50, 3, 4});
    history.append({std::nan(""), 1, 1});
    history.append({std::numeric_limits<double>::infinity(), 2, 2});
    EXPECT_EQ(timesOf(history), (std::vector<double>{100, 100, 100, 100})) << "a point never runs back in time";
    EXPECT_EQ(history.at(0).download, 0) << "a negative speed draws as none";
    EXPECT_EQ(history.peak(), 10);
    EXPECT_EQ(VDTrafficHistory().peak(), 0);
}

TEST(TopTalkersTest, SumsTheLastTenMinutesAcrossBuckets)
{
    VDTopTalkers talkers;
    talkers.add(0, {{"a", 100}, {"b", 50}});
    talkers.add(30, {{"b", 25}, {"skipped", 0}, {"reset", -70}});
    talkers.add(61, {{"b", 100}});
    talkers.add(5 * 60, {{"c", 10}});
    EXPECT_EQ(talkers.top(5), (Entries{{"b", 175}, {"a", 100}, {"c", 10}}));
    EXPECT_EQ(talkers.top(1), (Entries{{"b", 175}}));

    talkers.add(10 * 60, {});
    EXPECT_EQ(talkers.top(5), (Entries{{"b", 100}, {"c", 10}})) << "the first minute has left the window";
    talkers.add(30 * 60, {{"d", 1}});
    EXPECT_EQ(talkers.top(5), (Entries{{"d", 1}})) << "a gap longer than the window empties it";

    VDTopTalkers ends;
    ends.add(-1e300, {{"e", 1}});
    ends.add(1e300, {{"f", 1}});
    EXPECT_EQ(ends.top(5), (Entries{{"f", 1}})) << "times at the ends of the range";
}

TEST(TopTalkersTest, ANameGrowingMovesIntoTheTopFiveAndEqualSumsKeepNameOrder)
{
    VDTopTalkers talkers;
    talkers.add(0, {{"e", 500}, {"d", 500}, {"c", 300}, {"b", 200}, {"a", 100}, {"newcomer", 10}});
    EXPECT_EQ(talkers.top(5), (Entries{{"d", 500}, {"e", 500}, {"c", 300}, {"b", 200}, {"a", 100}}));
    for (int second = 1; second <= 90; ++second)
        talkers.add(second, {{"newcomer", 3}});
    EXPECT_EQ(talkers.top(5), (Entries{{"d", 500}, {"e", 500}, {"c", 300}, {"newcomer", 280}, {"b", 200}}));
}

TEST(TopTalkersTest, TrimmingKeepsMemoryBoundedAndTheLargestNames)
{
    VDTopTalkers talkers;
    // Each minute, one name large enough to stay, and a flood of small ones beyond the open
    // bucket's limit that a hostile service might send.
    const std::size_t flood = VDTopTalkers::kOpenBucketLimit + 1000;
    std::size_t mostHeld = 0;
    for (int minute = 0; minute < 12; ++minute) {
        TrafficGrowth growth{{"steady", 1'000'000}};
        for (std::size_t i = 0; i < flood; ++i)
            growth.emplace("m" + std::to_string(minute) + "-" + std::to_string(i), 1 + static_cast<std::int64_t>(i % 7));
        talkers.add(minute * 60.0, growth);
        talkers.add(minute * 60.0 + 1, {{"steady", 1}});
        mostHeld = std::max(mostHeld, talkers.heldNames());
    }
    EXPECT_LE(mostHeld, 2 * (VDTopTalkers::kOpenBucketLimit + VDTopTalkers::kBuckets * VDTopTalkers::kKeptPerBucket));
    EXPECT_EQ(talkers.top(1), (Entries{{"steady", 10 * 1'000'001}})) << "ten minutes of the steady name, each with its extra byte";
    EXPECT_EQ(talkers.top(100'000).size(), VDTopTalkers::kOpenBucketLimit / 2 + 9 * (VDTopTalkers::kKeptPerBucket - 1))
        << "closed minutes keep their largest fifty names (the steady one among them), the open one half its limit";

    VDTopTalkers huge;
    const std::int64_t most = std::numeric_limits<std::int64_t>::max();
    huge.add(0, {{"x", most}});
    huge.add(1, {{"x", most}});
    EXPECT_EQ(huge.top(1), (Entries{{"x", most}})) << "sums stop at the top of the range";
}

} // namespace
} // namespace vd
