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

// The host matches ignoring case and diacritics, an empty host never matches a text, and the
// client filter is the exact bundle id ("-1" is every client).
TEST(TunnelFilterTest, HostTextAndClientNarrowTheList)
{
    const std::tuple<const char*, const char*, Ids> cases[] = {
        {"example", "-1", {1}}, {"api.EXAMPLE", "-1", {1}}, {"munchen", "-1", {2}}, {"MÜNCH", "-1", {2}},
        {"ecole", "-1", {4}}, {"e", "-1", {1, 2, 4}}, {"nowhere", "-1", {}}, {"", "-1", {1, 2, 3, 4}}, {".", "-1", {1, 2, 4}},
        {"", "com.example.app", {1, 3}}, {"", "com.example.App", {2}}, {"", "com.example", {}}, {"example", "com.example.app", {1}},
    };
    VDTunnelFilter filter;
    for (const auto& [text, client, ids] : cases)
        EXPECT_EQ(idsOf(filter.apply(sample(), text, client)), ids) << '"' << text << "\" " << client;
    // "é" written as "e" followed by a combining accent.
    EXPECT_EQ(foldForSearch("Caf\x65\xCC\x81 Ωmega"), "cafe ωmega");
}

TEST(TunnelFilterTest, FoldedHostsFollowTheRecordsNotTheirPositions)
{
    VDTunnelFilter filter;
    const TunnelList first = {tunnel({.id = 1, .host = "one.example"}), tunnel({.id = 2, .host = "two.example"})};
    EXPECT_EQ(idsOf(filter.apply(first, "one", "-1")), Ids{1});
    // A grown list keeps its start; the same places holding other records are folded anew.
    TunnelList grown = first;
    grown.push_back(tunnel({.id = 3, .host = "Three.example"}));
    EXPECT_EQ(idsOf(filter.apply(grown, "three", "-1")), Ids{3});
    EXPECT_EQ(filter.foldedHosts(), 3u);
    const TunnelList replaced = {tunnel({.id = 1, .host = "uno.example"}), tunnel({.id = 2, .host = "one.example"})};
    EXPECT_EQ(idsOf(filter.apply(replaced, "one", "-1")), Ids{2});
    // Without a filter text nothing is kept.
    filter.apply(replaced, "", "-1");
    EXPECT_EQ(filter.foldedHosts(), 0u);
}

} // namespace
} // namespace vd
