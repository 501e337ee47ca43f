#include <array>
#include <functional>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "data/VDDataProcesser.h"
#include "link/QNComPacket.h"
#include "link/ServiceContract.h"

namespace vd {
namespace {

using contract::Command;
using Json = nlohmann::ordered_json;
using Part = VDListGenerations::Part;
constexpr std::array kParts{Part::current, Part::recent, Part::dns, Part::udp, Part::filters};

QNComPacket packet(Command cmd, Json data)
{
    QNComPacket packet;
    packet.setCmd(contract::numberOf(cmd));
    packet.setData(std::move(data));
    return packet;
}

Json tunnels(std::int64_t id)
{
    return {{"tunnels", {Json{{"id", id}, {"endId", id}, {"host", "example.com"}, {"fromHost", "127.0.0.1"}}.dump()}}};
}

// Which parts' generations moved while `act` ran.
std::vector<Part> moved(VDDataProcesser& processer, const std::function<void()>& act)
{
    const auto generations = processer.generations();
    std::array<std::uint64_t, kParts.size()> before{};
    for (std::size_t i = 0; i < kParts.size(); ++i)
        before[i] = generations->newest({&kParts[i], 1});
    act();
    std::vector<Part> parts;
    for (std::size_t i = 0; i < kParts.size(); ++i) {
        if (generations->newest({&kParts[i], 1}) != before[i])
            parts.push_back(kParts[i]);
    }
    return parts;
}

// Every change of what a view shows moves the generation of its part, and of no other: a
// change that moved none would never be shown, one that moved the wrong one would reload
// views that show nothing new.
TEST(VDListGenerationsTest, EachChangeMovesTheGenerationOfItsOwnPartOnly)
{
    const auto processer = VDDataProcesser::create();
    VDDataProcesser& p = *processer;
    const struct {
        const char* what;
        std::function<void()> act;
        std::vector<Part> parts;
    } cases[] = {
        {"service info", [&] { p.processPacket(packet(Command::info, {{"service_start_time", 1.7e9}})); }, {}},
        {"active report", [&] { p.processPacket(packet(Command::currentTunnels, tunnels(1))); }, {Part::current}},
        {"active push", [&] { p.processPacket(packet(Command::currentTunnelsPush, tunnels(2))); }, {Part::current}},
        {"recent reply", [&] { p.processPacket(packet(Command::historyTunnels, tunnels(3))); }, {Part::recent}},
        {"empty recent reply", [&] { p.processPacket(packet(Command::historyTunnels, {{"tunnels", Json::array()}})); }, {}},
        {"clean recent", [&] { p.cleanRecentRecord(); }, {Part::recent}},
        {"take recent", [&] { p.takeRecentTunnelInfos(); }, {Part::recent}},
        {"DNS report", [&] { p.processPacket(packet(Command::dnsRecords, {{"record", Json::array({Json{{"domain", "a"}}})}})); }, {Part::dns}},
        {"UDP push", [&] { p.processPacket(packet(Command::udpRecordPush, {{"tunnel_info", Json{{"id", 1}}.dump()}})); }, {Part::udp}},
        {"clean UDP", [&] { p.cleanUDPRecord(); }, {Part::udp}},
        {"take UDP", [&] { p.takeUDPTunnelInfos(); }, {Part::udp}},
        {"filter text", [&] { p.setFilterString("x"); }, {Part::filters}},
        {"active client", [&] { p.setCurrentFilterBundleId("com.a"); }, {Part::filters}},
        {"recent client", [&] { p.setRecentFilterBundleId("com.a"); }, {Part::filters}},
        {"failed report", [&] { auto failed = packet(Command::currentTunnels, tunnels(4)); failed.setCode(2); p.processPacket(failed); }, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(moved(p, c.act), c.parts);
    }
}

// Stamps come from one count: a processor made later, under the same window id, never repeats
// one a view may have recorded from the one before it.
TEST(VDListGenerationsTest, AnotherProcessorNeverRepeatsAStamp)
{
    const auto first = VDDataProcesser::create();
    first->processPacket(packet(Command::currentTunnels, tunnels(1)));
    const auto second = VDDataProcesser::create();
    second->processPacket(packet(Command::currentTunnels, tunnels(1)));
    const std::array both{Part::current, Part::filters};
    EXPECT_GT(second->generations()->newest(both), first->generations()->newest(both));
    EXPECT_EQ(VDDataProcesser::create()->generations()->newest(both), VDListGenerations::kUnchanged);
}

} // namespace
} // namespace vd
