#include <gtest/gtest.h>

#include "TunnelRecords.h"
#include "views/VDTunnelFilter.h"

namespace vd {
namespace {

using test::idsOf;
using test::tunnel;
using Ids = std::vector<std::int64_t>;

TunnelList sample()
{
    return {tunnel({.id = 1, .host = "API.Example.com", .bundleId = "com.example.app"}),
            tunnel({.id = 2, .host = "münchen.de", .bundleId = "com.example.App"}),
            tunnel({.id = 3, .host = "", .bundleId = "com.example.app"}),
            tunnel({.id = 4, .host = "ÉCOLE.fr", .bundleId = ""})};
}

TEST(TunnelFilterTest, HostMatchesIgnoringCaseAndDiacritics)
{
    VDTunnelFilter filter;
    EXPECT_EQ(idsOf(filter.apply(sample(), "example", "-1")), Ids{1});
    EXPECT_EQ(idsOf(filter.apply(sample(), "api.EXAMPLE", "-1")), Ids{1});
    EXPECT_EQ(idsOf(filter.apply(sample(), "munchen", "-1")), Ids{2});
    EXPECT_EQ(idsOf(filter.apply(sample(), "MÜNCH", "-1")), Ids{2});
    EXPECT_EQ(idsOf(filter.apply(sample(), "ecole", "-1")), Ids{4});
    EXPECT_EQ(idsOf(filter.apply(sample(), "e", "-1")), (Ids{1, 2, 4}));
    EXPECT_EQ(idsOf(filter.apply(sample(), "nowhere", "-1")), Ids{});
}

TEST(TunnelFilterTest, EmptyFilterKeepsEverythingAndAnEmptyHostNeverMatchesText)
{
    VDTunnelFilter filter;
    EXPECT_EQ(idsOf(filter.apply(sample(), "", "-1")), (Ids{1, 2, 3, 4}));
    EXPECT_EQ(idsOf(filter.apply(sample(), ".", "-1")), (Ids{1, 2, 4}));
}

TEST(TunnelFilterTest, ClientFilterIsTheExactBundleId)
{
    VDTunnelFilter filter;
    EXPECT_EQ(idsOf(filter.apply(sample(), "", "com.example.app")), (Ids{1, 3}));
    EXPECT_EQ(idsOf(filter.apply(sample(), "", "com.example.App")), Ids{2});
    EXPECT_EQ(idsOf(filter.apply(sample(), "", "com.example")), Ids{});
    EXPECT_EQ(idsOf(filter.apply(sample(), "example", "com.example.app")), Ids{1});
}

TEST(TunnelFilterTest, FoldingHandlesDecomposedAndPlainText)
{
    EXPECT_EQ(foldForSearch("Host-1.EXAMPLE"), "host-1.example");
    // "é" written as "e" followed by a combining accent.
    EXPECT_EQ(foldForSearch("Caf\x65\xCC\x81"), "cafe");
    EXPECT_EQ(foldForSearch("Ωmega"), "ωmega");
}

TEST(TunnelFilterTest, AHostKeptByIdIsFoldedAgainWhenTheIdNowNamesAnotherHost)
{
    VDTunnelFilter filter;
    EXPECT_EQ(idsOf(filter.apply({tunnel({.id = 1, .host = "old.example"})}, "old", "-1")), Ids{1});
    // The service restarted and gave the id to another tunnel.
    EXPECT_EQ(idsOf(filter.apply({tunnel({.id = 1, .host = "new.example"})}, "old", "-1")), Ids{});
    EXPECT_EQ(idsOf(filter.apply({tunnel({.id = 1, .host = "new.example"})}, "new", "-1")), Ids{1});
}

TEST(TunnelFilterTest, TunnelsNoLongerReportedAreForgotten)
{
    VDTunnelFilter filter;
    TunnelList many;
    for (std::int64_t id = 0; id < 3000; ++id)
        many.push_back(tunnel({.id = id, .host = "h" + std::to_string(id)}));
    filter.apply(many, "h", "-1");
    EXPECT_EQ(filter.cachedHosts(), 3000u);
    filter.apply({tunnel({.id = 5000, .host = "h"})}, "h", "-1");
    EXPECT_EQ(filter.cachedHosts(), 1u);
}

} // namespace
} // namespace vd
