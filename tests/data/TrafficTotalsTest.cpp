#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "data/TrafficTotals.h"
#include "data/VDTunnelInfo.h"
#include "link/ServiceContract.h"

namespace vd {
namespace {

constexpr double kStart = 1'700'000'000;

struct Transfer {
    std::int64_t sent;
    std::int64_t received;
};

std::shared_ptr<const VDTunnelInfo> tunnel(std::int64_t id, Transfer bytes, bool closed = false,
                                           contract::CloseReason reason = contract::CloseReason::complete,
                                           const std::string& policy = "Proxy")
{
    const nlohmann::ordered_json json{{"id", id},
                                      {"endId", id + 1},
                                      {"tx", bytes.sent},
                                      {"rx", bytes.received},
                                      {"t_start", 1.0},
                                      {"t_end", closed ? 2.0 : 0.0},
                                      {"closeReason", static_cast<std::uint64_t>(reason)},
                                      {"policyName", policy}};
    return VDTunnelInfo::initWithJSONString(json.dump(), kStart);
}

std::shared_ptr<const VDTunnelInfo> closed(std::int64_t id, Transfer bytes,
                                           contract::CloseReason reason = contract::CloseReason::complete)
{
    return tunnel(id, bytes, true, reason);
}

// Completed, failed.
using Closed = std::pair<std::uint64_t, std::uint64_t>;

Closed closedOf(const TrafficTotals& totals)
{
    return {totals.counts().completed, totals.counts().failed};
}

ByteCounts bytesOf(const TrafficTotals& totals)
{
    return totals.counts().bytes;
}

TEST(TrafficTotals, AddsActiveGrowthAndEachClosedTunnelOnce)
{
    TrafficTotals totals(1000);
    totals.update({tunnel(1, {100, 200})}, {}, kStart);
    EXPECT_EQ(bytesOf(totals), (ByteCounts{100, 200}));
    totals.update({tunnel(1, {150, 260}), tunnel(2, {10, 0})}, {}, kStart);
    EXPECT_EQ(bytesOf(totals), (ByteCounts{160, 260}));
    // A hostile or confused report going backwards takes nothing away, and the later rise
    // counts only past what was already counted.
    totals.update({tunnel(1, {50, 0}), tunnel(2, {-5, 0})}, {}, kStart);
    EXPECT_EQ(bytesOf(totals), (ByteCounts{160, 260}));
    // Tunnel 1 closes at 180/300: only its growth beyond 150/260 is added. Tunnel 3 opened and
    // closed between two reports and was never seen active: all of it counts.
    totals.update({tunnel(2, {10, 0})}, {closed(1, {180, 300}), closed(3, {7, 9}, contract::CloseReason::reject)}, kStart);
    EXPECT_EQ(bytesOf(totals), (ByteCounts{197, 309}));
    EXPECT_EQ(closedOf(totals), Closed(1, 1));
    // The same records again, beside an active list older than their closing: nothing more.
    totals.update({tunnel(1, {180, 300}), tunnel(2, {10, 0})}, {closed(1, {180, 300}), closed(3, {7, 9})}, kStart);
    EXPECT_EQ(bytesOf(totals), (ByteCounts{197, 309}));
    EXPECT_EQ(closedOf(totals), Closed(1, 1));
}

TEST(TrafficTotals, ARestartKeepsTheTotalsAndCountsTheNewServicesIdsAfresh)
{
    TrafficTotals totals(1000);
    // The start time arrives after the first report: that is no restart.
    totals.update({tunnel(1, {500, 500})}, {}, 0);
    totals.update({tunnel(1, {500, 500})}, {closed(2, {1, 1})}, kStart);
    EXPECT_EQ(bytesOf(totals), (ByteCounts{501, 501}));
    // Restarted: id 1 and 2 are new tunnels, smaller than the old ones with the same ids.
    totals.update({tunnel(1, {100, 40})}, {closed(2, {1, 1})}, kStart + 60);
    EXPECT_EQ(bytesOf(totals), (ByteCounts{602, 542}));
    EXPECT_EQ(totals.counts().completed, 2u);
    // An unknown start time (the link is logging in again) forgets nothing.
    totals.update({tunnel(1, {100, 40})}, {closed(2, {1, 1})}, 0);
    EXPECT_EQ(bytesOf(totals), (ByteCounts{602, 542}));
}

TEST(TrafficTotals, RemembersOnlyTheWindowOfEndedIdsAndStillCountsEveryOne)
{
    constexpr std::size_t kWindow = 100;
    TrafficTotals totals(kWindow);
    std::int64_t nextId = 1;
    TunnelList window;
    for (int report = 0; report < 200; ++report) {
        TunnelList active;
        for (int i = 0; i < 20; ++i)
            active.push_back(tunnel(nextId + i, {1, 2}));
        TunnelList recent;
        for (int i = 0; i < 50; ++i)
            recent.push_back(closed(nextId++, {3, 4}));
        // Each report hands in the newest records again, as a recent list that only grows does.
        window.insert(window.end(), recent.begin(), recent.end());
        if (window.size() > kWindow)
            window.erase(window.begin(), window.end() - kWindow);
        totals.update(active, window, kStart);
        ASSERT_LE(totals.rememberedIds(), kWindow + active.size());
    }
    EXPECT_EQ(totals.counts().completed, 200u * 50);
    EXPECT_EQ(bytesOf(totals), (ByteCounts{200 * 50 * 3, 200 * 50 * 4}));
}

TEST(TrafficTotals, PolicyNamesAreBoundedAndAddUpToTheTotal)
{
    TrafficTotals totals(1000);
    TunnelList recent;
    for (int i = 0; i < 60; ++i)
        recent.push_back(tunnel(i, {1, 10}, true, contract::CloseReason::complete, "policy-" + std::to_string(i)));
    totals.update({}, recent, kStart);
    totals.update({tunnel(100, {5, 5}, false, contract::CloseReason::complete, "policy-59")}, {}, kStart);
    totals.update({tunnel(101, {2, 2}, false, contract::CloseReason::complete, "policy-3")}, {}, kStart);

    const auto& policies = totals.counts().policies;
    ASSERT_EQ(policies.size(), TrafficTotals::kMaxNamedPolicies + 1);
    EXPECT_EQ(policies.front(), (PolicyBytes{"policy-0", {1, 10}}));
    EXPECT_EQ(policies[3], (PolicyBytes{"policy-3", {3, 12}}));
    EXPECT_EQ(policies[49].policy, "policy-49");
    EXPECT_EQ(policies.back(), (PolicyBytes{"other", {10 + 5, 100 + 5}}));
    ByteCounts sum;
    for (const auto& policy : policies) {
        sum.sent += policy.bytes.sent;
        sum.received += policy.bytes.received;
    }
    EXPECT_EQ(sum, bytesOf(totals));
}

} // namespace
} // namespace vd
