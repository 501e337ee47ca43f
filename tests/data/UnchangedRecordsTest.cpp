#include <algorithm>
#include <set>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "TrafficModel.h"
#include "data/UnchangedRecords.h"
#include "data/VDDataProcesser.h"
#include "data/VDTunnelInfo.h"
#include "link/QNComPacket.h"
#include "link/ReceivedPacket.h"
#include "link/ServiceContract.h"
#include "platform/Log.h"
#include "support/DataSuite.h"
#include "support/PacketWire.h"

namespace vd {
namespace {

using Json = nlohmann::ordered_json;
using test::Texts;
using Record = std::shared_ptr<const VDTunnelInfo>;

std::string tunnelText(std::int64_t id, std::int64_t rx)
{
    return Json{{"id", id},           {"type", 1}, {"t_start", 5.5}, {"t_end", 0}, {"host", "h" + std::to_string(id) + ".example"},
                {"fromHost", "10.0.0." + std::to_string(id)}, {"processName", "p"}, {"rx", rx}}
        .dump();
}

// A text as a report carries it: the inside of a JSON string.
std::string escapedOf(const std::string& text)
{
    const std::string quoted = Json(text).dump();
    return quoted.substr(1, quoted.size() - 2);
}

// What a view reads of a record, as one list: a reused record must show what a fresh parse
// of its text shows.
Texts shownOf(const VDTunnelInfo& record)
{
    return {std::string(record.rawData()), std::to_string(record.initTime()), std::to_string(record.id_()),
            std::string(record.host()), std::string(record.fromHost()), std::to_string(record.rx())};
}

enum class Handover { received, dictionary };

// A packet with code 1, handed over as the link does (decoded, records read from the packet)
// or already in dictionary form.
void deliver(VDDataProcesser& processer, contract::Command cmd, const Json& data, Handover handover)
{
    QNComPacket packet = QNComPacket::initWithId(1);
    packet.setCmd(contract::numberOf(cmd));
    packet.setData(data);
    if (handover == Handover::dictionary)
        return processer.processPacket(packet);
    auto received = ReceivedPacket::decode(packet.toData().value());
    ASSERT_TRUE(received);
    processer.processReceived(*received);
}

class UnchangedRecordsTest : public ::testing::TestWithParam<Handover> {
protected:
    void startedAt(double start)
    {
        deliver(*processer, contract::Command::info, {{"service_start_time", start}}, GetParam());
    }
    std::vector<Record> report(const Texts& texts)
    {
        deliver(*processer, contract::Command::currentTunnels, {{"tunnels", texts}}, GetParam());
        return processer->currentTunnelInfos();
    }
    // Every record of the list shows what its text freshly parsed shows.
    void expectFresh(const std::vector<Record>& records, const Texts& texts)
    {
        ASSERT_EQ(records.size(), texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i)
            EXPECT_EQ(shownOf(*records[i]), shownOf(*VDTunnelInfo::initWithJSONString(texts[i], processer->initTime()))) << i;
    }

    std::shared_ptr<VDDataProcesser> processer = VDDataProcesser::create();
};

TEST_P(UnchangedRecordsTest, UnchangedTextsKeepTheirRecordObjectsAndEverythingElseIsParsedAgain)
{
    startedAt(100);
    const std::string a = tunnelText(1, 10), b = tunnelText(2, 0), c = tunnelText(3, 0), d = tunnelText(4, 0);
    const auto first = report({a, b, c, d});

    // The first tunnel moved one byte ("rx":10 -> 11), the last one moved to the front.
    const std::string changedA = tunnelText(1, 11);
    ASSERT_EQ(changedA.size(), a.size());
    const auto second = report({d, changedA, b, c});
    expectFresh(second, {d, changedA, b, c});
    EXPECT_EQ(second[0], first[3]);
    EXPECT_NE(second[1], first[0]);
    EXPECT_EQ(second[2], first[1]);
    EXPECT_EQ(second[3], first[2]);
    // Every tunnel's client is listed, reused or not.
    EXPECT_EQ(processer->currentRemoteProcess().size(), 4u);

    // An id listed twice makes two records as before; c leaves.
    const auto third = report({b, b, d});
    expectFresh(third, {b, b, d});
    EXPECT_NE(third[0], third[1]);
    EXPECT_TRUE(third[0] == second[2] || third[1] == second[2]);
    EXPECT_EQ(third[2], second[0]);

    // c comes back: the report before did not have it, so it is parsed again.
    const auto fourth = report({b, c, d});
    expectFresh(fourth, {b, c, d});
    EXPECT_NE(fourth[1], second[3]);
    EXPECT_TRUE(fourth[0] == third[0] || fourth[0] == third[1]);
    EXPECT_EQ(fourth[2], third[2]);

    // The service restarted: the same texts make records with the new start time.
    startedAt(200);
    const auto fifth = report({b, c, d});
    expectFresh(fifth, {b, c, d});
    for (std::size_t i = 0; i < fifth.size(); ++i)
        EXPECT_NE(fifth[i], fourth[i]) << i;
    EXPECT_DOUBLE_EQ(fifth[0]->initTime(), 200);
}

INSTANTIATE_TEST_SUITE_P(Handovers, UnchangedRecordsTest, ::testing::Values(Handover::received, Handover::dictionary),
                         [](const auto& info) { return info.param == Handover::received ? "Received" : "Dictionary"; });

// Only unescaping finds a bad escape in a text, and only a changed text is unescaped: such a
// report is refused whole, as a packet that does not decode, and the next one is matched
// against the report before it.
TEST(UnchangedRecords, AReportWithATextThatDoesNotUnescapeIsRefusedWhole)
{
    const auto processer = VDDataProcesser::create();
    const auto deliverJson = [&](const std::string& json) {
        auto received = ReceivedPacket::decode(test::wireOfJson(json));
        ASSERT_TRUE(received);
        processer->processReceived(*received);
    };
    const auto reportJson = [](int cmd, const Texts& escaped) {
        std::string json = R"({"c":1,"t":)" + std::to_string(cmd) + R"(,"d":{"tunnels":[)";
        for (const auto& text : escaped)
            json += "\"" + text + "\",";
        json.back() = ']';
        return json + "}}";
    };
    const std::string a = escapedOf(tunnelText(1, 10)), b = escapedOf(tunnelText(2, 0));
    const std::string bad = escapedOf(tunnelText(3, 0)).insert(5, "\\x");
    deliverJson(reportJson(7, {a, b}));
    const auto before = processer->currentTunnelInfos();
    ASSERT_EQ(before.size(), 2u);
    const std::array parts{VDListGenerations::current, VDListGenerations::recent};
    const auto generation = processer->generations()->newest(parts);

    for (const int cmd : {7, 8}) {
        SCOPED_TRACE(cmd);
        log::Capture capture;
        deliverJson(reportJson(cmd, {a, bad, b, bad}));
        const auto lines = capture.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(lines[0].starts_with("Communication decode fail with error: ")) << lines[0];
    }
    EXPECT_EQ(processer->currentTunnelInfos(), before);
    EXPECT_EQ(processer->generations()->newest(parts), generation);
    EXPECT_TRUE(processer->recentTunnelInfos().empty());

    deliverJson(reportJson(7, {b, a}));
    EXPECT_EQ(processer->currentTunnelInfos(), (std::vector<Record>{before[1], before[0]}));
}

// Texts that defeat the lookup by looking alike: whatever the index finds, a record is handed
// out only for its own text, and only once per report.
TEST(UnchangedRecords, LookalikeAndReorderedTextsNeverGetAnotherTextsRecord)
{
    struct Case {
        const char* name;
        // Texts that differ only in their first bytes, so every sampled place is alike.
        bool lookalike;
        bool reversed;
        std::size_t minimumReused;
    };
    for (const Case& c : {Case{"reordered", false, true, 300}, Case{"lookalike reordered", true, true, 1},
                          Case{"lookalike in place", true, false, 300}}) {
        SCOPED_TRACE(c.name);
        Texts texts;
        for (int i = 0; i < 300; ++i) {
            const std::string id = std::to_string(1000 + i);
            texts.push_back(c.lookalike ? R"({"id":)" + id + R"(,"host":")" + std::string(200, 'x') + R"("})"
                                        : tunnelText(1000 + i, i * 7));
        }
        UnchangedRecords unchanged;
        int parsed = 0;
        const UnchangedRecords::Make parse = [&parsed](std::string_view escaped) {
            ++parsed;
            std::string text;
            EXPECT_TRUE(ReceivedPacket::unescapeText(escaped, text));
            return VDTunnelInfo::initWithReportText(escaped, text, 1);
        };
        unchanged.beginReport(1);
        TunnelList held;
        for (const auto& text : texts)
            held.push_back(unchanged.recordOf(escapedOf(text), parse));
        unchanged.endReport();

        if (c.reversed)
            std::reverse(texts.begin(), texts.end());
        texts.push_back(texts.front());
        unchanged.beginReport(1);
        parsed = 0;
        std::set<const VDTunnelInfo*> handedOut;
        for (const auto& text : texts) {
            const auto record = unchanged.recordOf(escapedOf(text), parse);
            ASSERT_TRUE(record);
            EXPECT_EQ(record->rawData(), text);
            if (std::find(held.begin(), held.end(), record) != held.end()) {
                EXPECT_TRUE(handedOut.insert(record.get()).second) << "handed out twice: " << text;
            }
        }
        EXPECT_EQ(handedOut.size() + static_cast<std::size_t>(parsed), texts.size());
        EXPECT_GE(handedOut.size(), c.minimumReused);
        EXPECT_LE(handedOut.size(), held.size());
    }
}

// The simulator's own reports, one poll (four steps) apart: the idle share shows as texts that
// did not change, and exactly those keep their records.
TEST(UnchangedRecords, TheSimulatorsIdleShareReportsUnchangedTextsAndOnlyThoseAreReused)
{
    struct Case {
        double idleShare;
        double lowest, highest;
    };
    for (const Case& c : {Case{0, 0, 0.5}, Case{0.6, 0.6, 0.95}}) {
        SCOPED_TRACE(c.idleShare);
        sim::ModelOptions options;
        options.seed = 3;
        options.scale = 400;
        options.idleShare = c.idleShare;
        sim::TrafficModel model(options);
        auto processer = VDDataProcesser::create();
        Texts before;
        std::vector<Record> recordsBefore;
        for (int poll = 0; poll < 3; ++poll) {
            for (int step = 0; step < 4; ++step)
                model.step();
            const auto texts = Json::parse("[" + model.activeTexts() + "]").get<Texts>();
            deliver(*processer, contract::Command::currentTunnels, {{"tunnels", texts}}, Handover::received);
            const auto records = processer->currentTunnelInfos();
            ASSERT_EQ(records.size(), texts.size());
            std::size_t unchanged = 0, reused = 0;
            for (std::size_t i = 0; i < texts.size(); ++i) {
                const auto was = std::find(before.begin(), before.end(), texts[i]);
                const bool same = was != before.end();
                unchanged += same;
                reused += same && records[i] == recordsBefore[static_cast<std::size_t>(was - before.begin())];
            }
            EXPECT_EQ(reused, unchanged);
            if (poll > 0) {
                const double share = static_cast<double>(unchanged) / static_cast<double>(texts.size());
                EXPECT_GE(share, c.lowest);
                EXPECT_LE(share, c.highest);
            }
            before = texts;
            recordsBefore = records;
        }
    }
}

} // namespace
} // namespace vd
