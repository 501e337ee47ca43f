#include <ctime>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <simdjson.h>

#include "data/VDTunnelInfo.h"
#include "support/DataSuite.h"

namespace vd {
namespace {

using Json = nlohmann::ordered_json;
using test::Texts;
using test::textsOf;

std::shared_ptr<const VDTunnelInfo> tunnel(const Json& json, double initTime = 1000)
{
    auto info = VDTunnelInfo::initWithJSONString(json.dump(), initTime);
    EXPECT_TRUE(info) << json.dump();
    return info;
}

// Every key lands in its own field: a field read under a neighbour's key shows as a wrong value.
TEST(VDTunnelInfo, ReadsEveryFieldAndKeepsTheTextVerbatim)
{
    const std::string text =
        R"({"id":7,"endId":9,"type":2,"closeReason":4,"t_start":1.5,"t_server_ready":1.6,"t_dns_resolved":1.7,)"
        R"("t_rule_found":1.8,"t_proxy_ready":1.9,"t_close":2.0,"t_end":2.5,"host":"example.com","port":443,)"
        R"("headerString":"GET / HTTP/1.1\r\nHost: \"x\"\r\n\r\n","headerModified":true,"modifiedHeaderString":"M",)"
        R"("responseHeader":"R","responseCode":"200","responseModified":true,"SSLHost":"s.example","SSLHeaderString":"SH",)"
        R"("SSLHeaderModified":true,"SSLModifiedHeaderString":"SM","SSLResponseHeader":"SR","SSLResponseCode":"404",)"
        R"("SSLResponseModified":true,"hasReceive":true,"hasSend":true,"processName":"curl","processIdentifier":77,)"
        R"("bundleIdentifier":"com.example.curl","processPath":"/usr/bin/curl","fromHost":"127.0.0.1","fromPort":5000,)"
        R"("ipAddr":"93.184.216.34","outboundMode":"Rule","ruleInfo":"DOMAIN,example.com","policyName":"DIRECT",)"
        R"("rx":100,"tx":200,"rx_speed":10,"tx_speed":20,"rx_max_speed":30,"tx_max_speed":40,"extra":{"nested":[1,2]}})";
    const auto t = VDTunnelInfo::initWithJSONString(text, 1000);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->rawData(), text);
    EXPECT_EQ(t->type(), TunnelProtocol::https);
    EXPECT_EQ(t->closeReason(), 4u);
    EXPECT_EQ((std::vector<std::int64_t>{t->id_(), t->endId_(), t->port(), t->processId(), t->fromPort(), t->rx(), t->tx(),
                                         t->rx_speed(), t->tx_speed(), t->rx_max_speed(), t->tx_max_speed()}),
              (std::vector<std::int64_t>{7, 9, 443, 77, 5000, 100, 200, 10, 20, 30, 40}));
    EXPECT_EQ((std::vector<double>{t->t_start(), t->t_server_ready(), t->t_dns_resolved(), t->t_rule_found(), t->t_proxy_ready(),
                                   t->t_close(), t->t_end(), t->initTime(), t->startTime()}),
              (std::vector<double>{1.5, 1.6, 1.7, 1.8, 1.9, 2.0, 2.5, 1000, 1001.5}));
    EXPECT_EQ(textsOf(t->host(), t->headerString(), t->modifiedHeaderString(), t->responseHeader(), t->responseCode(), t->SSLHost(),
                     t->SSLHeaderString(), t->SSLModifiedHeaderString(), t->SSLResponseHeader(), t->SSLResponseCode(),
                     t->processName(), t->bundleIdentifier(), t->processPath(), t->processIconPath(), t->fromHost(), t->toHost(),
                     t->outboundMode(), t->ruleInfo(), t->policyName()),
              (Texts{"example.com", "GET / HTTP/1.1\r\nHost: \"x\"\r\n\r\n", "M", "R", "200", "s.example", "SH", "SM", "SR", "404",
                     "curl", "com.example.curl", "/usr/bin/curl", "", "127.0.0.1", "93.184.216.34", "Rule", "DOMAIN,example.com",
                     "DIRECT"}));
    EXPECT_EQ((std::vector<bool>{t->headerModified(), t->responseModified(), t->SSLHeaderModified(), t->SSLResponseModified(),
                                 t->hasReceive(), t->hasSend()}),
              std::vector<bool>(6, true));
}

// The packet decoder leaves room after long texts so they are parsed where they lie; whatever
// sits in that room is not part of the record.
std::string withRoomAfter(const std::string& text, const std::string& room)
{
    std::string roomy = text + room + std::string(simdjson::SIMDJSON_PADDING, ' ');
    roomy.resize(text.size());
    return roomy;
}

TEST(VDTunnelInfo, OnlyAWholeObjectIsARecordReadOnlyToItsEndWhateverRoomFollows)
{
    for (const char* text : {"", "[]", "5", "\"text\"", "{\"id\":", "{\"id\":1} trailing", "{\"id\":1,}", "null"})
        EXPECT_FALSE(VDTunnelInfo::initWithJSONString(text, 0)) << text;
    std::string whole = withRoomAfter(R"({"id":7,"host":"a.example"})", R"(,"id":8,"host":"b.example"})");
    ASSERT_GE(whole.capacity() - whole.size(), simdjson::SIMDJSON_PADDING);
    const auto t = VDTunnelInfo::initWithJSONString(std::move(whole), 0);
    ASSERT_TRUE(t);
    EXPECT_EQ(std::tuple(t->id_(), std::string(t->host()), std::string(t->rawData())),
              std::tuple(std::int64_t{7}, std::string("a.example"), std::string(R"({"id":7,"host":"a.example"})")));
    // Cut short, the text is no object, though the room would complete it.
    EXPECT_FALSE(VDTunnelInfo::initWithJSONString(withRoomAfter(R"({"id":7,"host":"a.ex)", R"(ample"})"), 0));
}

TEST(VDTunnelInfo, LooseValuesConvertAndWrongKindsReadAsAbsent)
{
    const auto t = tunnel(Json{{"id", "42"}, {"port", 8080.9}, {"type", true}, {"t_start", "1.25"}, {"rx", -5},
                               {"hasSend", "yes"}, {"hasReceive", 0}, {"host", 12}, {"processName", nullptr},
                               {"fromHost", Json::array()}, {"closeReason", "4"}, {"headerString", 3}});
    EXPECT_EQ(std::tuple(t->id_(), t->port(), t->rx(), t->type(), t->t_start(), t->hasSend(), t->hasReceive()),
              std::tuple(std::int64_t{42}, std::int64_t{8080}, std::int64_t{-5}, TunnelProtocol::http, 1.25, true, false));
    EXPECT_EQ(textsOf(t->host(), t->serverString(), t->processName(), t->fromHost(), t->headerString()), (Texts{"", "--", "", "", ""}));
    EXPECT_EQ(t->closeReason(), 4u);
    // A repeated key: the last one counts, for kept and derived fields alike.
    const auto twice = VDTunnelInfo::initWithJSONString(R"({"host":"a","host":"b","headerString":"x","headerString":"y"})", 0);
    ASSERT_TRUE(twice);
    EXPECT_EQ(textsOf(twice->host(), twice->headerString()), (Texts{"b", "y"}));
}

TEST(VDTunnelInfo, StatusFollowsTheTimelineThenTheCloseReason)
{
    EXPECT_EQ(tunnel(Json{{"t_start", 0}, {"t_end", 0}, {"closeReason", 1}})->statusString(), "Active");
    EXPECT_EQ(tunnel(Json{{"t_start", 5.0}, {"t_end", 4.0}, {"closeReason", 6}})->status(), TunnelStatus::active);
    // Reasons 1, 4, 5 and 6 suspend; every other ends as completed.
    const char* const reasons[] = {"Complete", "Manual Close", "Complete", "Complete", "Timeout", "Memory Warning", "Reject", "Complete"};
    for (int reason = 0; reason < 8; ++reason) {
        const auto t = tunnel(Json{{"t_start", 1.0}, {"t_end", 2.0}, {"closeReason", reason}});
        const bool suspended = std::string(reasons[reason]) != "Complete";
        EXPECT_EQ(t->status(), suspended ? TunnelStatus::suspended : TunnelStatus::completed) << reason;
        EXPECT_EQ(textsOf(t->statusString(), t->closeReasonString()), (Texts{suspended ? "Suspend" : "Completed", reasons[reason]}));
    }
}

TEST(VDTunnelInfo, CodeAndDuration)
{
    // The methods' names, unknown types included, are the table model's method sort case.
    // The code of the inner request wins over the outer; no code, or a TCP tunnel, has none.
    const std::pair<Json, std::int64_t> codes[] = {{Json{{"type", 4}, {"responseCode", "200"}}, -1},
                                                   {Json{{"type", 2}, {"responseCode", "200"}, {"SSLResponseCode", "404"}}, 404},
                                                   {Json{{"type", 1}, {"responseCode", "301"}, {"SSLResponseCode", ""}}, 301},
                                                   {Json{{"type", 1}}, -1}, {Json{{"type", 1}, {"responseCode", "abc"}}, 0}};
    for (const auto& [json, code] : codes)
        EXPECT_EQ(tunnel(json)->code(), code) << json.dump();
    EXPECT_DOUBLE_EQ(tunnel(Json{{"t_start", 1.0}, {"t_end", 3.5}})->duration(), 2.5);
    const double now = static_cast<double>(std::time(nullptr));
    EXPECT_NEAR(tunnel(Json{{"t_start", 10.0}, {"t_end", 0}}, now - 1000)->duration(), 990, 5);
    // A tunnel said to start in the future has lasted nothing yet.
    EXPECT_EQ(tunnel(Json{{"t_start", 1e12}}, now)->duration(), 0);
}

TEST(VDTunnelInfo, TitlesAndAddresses)
{
    EXPECT_EQ(tunnel(Json{{"processName", "curl"}, {"processIdentifier", 0}})->processTitle(), "curl");
    EXPECT_EQ(tunnel(Json{{"processName", "Mail"}, {"fromHost", "1.2.3.4"}})->processDetailTitle(), "Mail");
    const auto v6 = tunnel(Json{{"fromHost", "FE80::1"}, {"fromPort", 5}, {"host", "::1"}, {"port", 80}});
    EXPECT_EQ(textsOf(v6->fromString(), v6->processTitle(), v6->processDetailTitle(), v6->serverString()),
              (Texts{"[fe80::1]:5", "[fe80::1]:5", "FE80::1:5", "[::1]:80"}));
    const auto process = tunnel(Json{{"processName", "curl"}, {"processIdentifier", 9}, {"bundleIdentifier", "b"},
                                     {"processPath", "/p"}, {"fromHost", "h"}, {"fromPort", 3}})->processInfo();
    EXPECT_EQ(textsOf(process.processName, process.bundleIdentifier, process.processPath, process.fromHost), (Texts{"curl", "b", "/p", "h"}));
    EXPECT_EQ(std::tuple(process.processId, process.fromPort, process._localIPs), std::tuple(std::int64_t{9}, std::int64_t{3}, nullptr));
}

TEST(VDTunnelInfo, HeaderTextsIncludeEveryNonEmptySection)
{
    const auto none = tunnel(Json::object());
    EXPECT_EQ(none->requestHeaderString() + none->responseHeaderString() + none->requestDataString() + none->responseDataString(), "");
    const auto t = tunnel(Json{{"headerString", "A"}, {"modifiedHeaderString", "B"}, {"headerModified", false},
                               {"SSLHeaderString", ""}, {"SSLModifiedHeaderString", "D"}, {"responseHeader", ""},
                               {"SSLResponseHeader", "F"}});
    EXPECT_EQ(t->requestHeaderString(), "Request Header:\n\nA\n\n\nModified Header:\n\nB\n\n\nSSL Modified Header:\n\nD\n\n\n");
    EXPECT_EQ(t->responseHeaderString(), "SSL Response Header:\n\nF\n\n\n");
}

// An active tunnel skips the steps it never reached; a finished one adds its time and how it ended.
TEST(VDTunnelInfo, TimeBreakdown)
{
    const auto active = tunnel(Json{{"t_start", 0}, {"t_server_ready", 0.010}, {"t_dns_resolved", 0.030},
                                    {"t_rule_found", 0}, {"t_proxy_ready", 0.250}, {"t_end", 0}});
    EXPECT_EQ(active->timeAttributedString(), (StyledText{{"Proxy Ready Cost", true}, {" - 10 ms\n", false},
                                                          {"DNS Reslove", true}, {" - 20 ms\n", false},
                                                          {"Remote Ready Cost", true}, {" - 250 ms\n", false}}));
    const auto finished = tunnel(Json{{"t_start", 100.0}, {"t_server_ready", 99.0}, {"t_dns_resolved", 100.5},
                                      {"t_rule_found", 100.5}, {"t_proxy_ready", 101.0}, {"t_end", 112.0}, {"closeReason", 4}});
    EXPECT_EQ(finished->timeAttributedString(), (StyledText{{"Proxy Ready Cost", true}, {" - -1000 ms\n", false},
                                                            {"DNS Reslove", true}, {" - 1500 ms\n", false},
                                                            {"Remote Ready Cost", true}, {" - 500 ms\n", false},
                                                            {"Active", true}, {" - 12.00 s\n", false},
                                                            {"Timeout\n", true}}));
}

TEST(VDTunnelInfo, RecordHoldsLittleMoreThanItsText)
{
    std::string header;
    for (int i = 0; i < 40; ++i)
        header += "X-Header-" + std::to_string(i) + ": \"value\" with quotes\r\n";
    const auto t = tunnel(Json{{"id", 1}, {"host", "example.com"}, {"headerString", header}, {"responseHeader", header},
                               {"SSLHeaderString", header}, {"SSLResponseHeader", header}});
    EXPECT_LT(static_cast<double>(t->heldBytes()), 1.6 * static_cast<double>(t->rawData().size()));
}

} // namespace
} // namespace vd
