#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "data/RecordFields.h"
#include "data/VDDNSInfo.h"
#include "data/VDProcessInfo.h"
#include "data/VDUDPTunnelInfo.h"
#include "platform/Numbers.h"
#include "support/DataSuite.h"

namespace vd {
namespace {

using Json = nlohmann::ordered_json;
using test::Texts;
using test::textsOf;

// Integers the service sends as text read as far as they go and saturate; of a repeated key the
// last one counts.
TEST(RecordFields, IntegersFromTextReadLikeTheServiceMeansThemAndTheLastOfARepeatedKeyCounts)
{
    const std::pair<const char*, std::int64_t> cases[] = {
        {"42", 42}, {"  -17abc", -17}, {"+8", 8}, {"abc", 0}, {"", 0}, {"99999999999999999999999", INT64_MAX},
        {"-99999999999999999999999", INT64_MIN}, {"-9223372036854775808", INT64_MIN}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(numbers::leadingInteger(text), value) << text;
    const auto values = record::readStrings(R"({"a":"1","b":2,"a":"3","c":"x\ny"})", std::array<std::string_view, 4>{"a", "b", "c", "d"});
    EXPECT_EQ(textsOf(values[0], values[1], values[2], values[3]), (Texts{"3", "", "x\ny", ""}));
    EXPECT_EQ(record::readStrings("not json", std::array<std::string_view, 1>{"a"})[0], "");
}

TEST(VDUDPTunnelInfo, ReadsItsFieldsAndTexts)
{
    const std::string text = R"({"id":3,"status":1,"direction":0,"fromHost":"::1","fromPort":5353,"host":"8.8.8.8",)"
                             R"("port":53,"outboundMode":"Rule","ruleInfo":"FINAL","policyName":"Proxy","t_time":2.5,)"
                             R"("t_rule_found":2.6,"t_end":3.0})";
    const auto u = VDUDPTunnelInfo::initWithJSONString(text, 100);
    ASSERT_TRUE(u);
    EXPECT_EQ(u->rawData(), text);
    EXPECT_EQ(std::tuple(u->id_(), u->status(), u->direction()), std::tuple(std::int64_t{3}, UDPStatus::sent, std::int64_t{0}));
    EXPECT_EQ(textsOf(u->outboundMode(), u->ruleInfo(), u->policyName(), u->fromString(), u->serverString()),
              (Texts{"Rule", "FINAL", "Proxy", "[::1]:5353", "8.8.8.8:53"}));
    EXPECT_EQ((std::vector<double>{u->t_time(), u->t_rule_found(), u->t_end(), u->startTime()}), (std::vector<double>{2.5, 2.6, 3.0, 102.5}));
    EXPECT_FALSE(VDUDPTunnelInfo::initWithJSONString("[1]", 0) || VDUDPTunnelInfo::initWithJSONString("{", 0));
    EXPECT_EQ(VDUDPTunnelInfo::initWithJSONString("{}", 0)->serverString(), "--");
}

TEST(VDUDPTunnelInfo, StatusTextPutsReceivedFirst)
{
    const std::tuple<int, int, const char*> cases[] = {{1, 2, "Recved"}, {1, 0, "Recved"}, {0, 0, "Active"},
                                                       {0, 1, "Sent"},   {2, 2, "Fail"},   {0, 3, "Unknown"}};
    for (const auto& [direction, status, text] : cases)
        EXPECT_EQ(VDUDPTunnelInfo::initWithJSONString(Json{{"direction", direction}, {"status", status}}.dump(), 0)->statusString(), text);
}

// The table's order and types come with the processor's session; here the fields' own rules.
TEST(VDDNSInfo, ServerFallsBackToDoHTtlReadsLooselyAndAddressesAreListed)
{
    const auto of = [](const Json& json, DNSType type = DNSType::dynamic) { return VDDNSInfo::initWithDictionary(json, type); };
    EXPECT_EQ(textsOf(of(Json{{"dns", ""}, {"doh", "https://d/q"}}).dns, of(Json{{"dns", "1.1.1.1"}, {"doh", "https://d/q"}}).dns,
                      of(Json{{"dns", 5}, {"doh", "https://d/q"}}).dns),
              (Texts{"https://d/q", "1.1.1.1", "https://d/q"}));
    EXPECT_EQ(std::pair(of(Json{{"ttl", "45"}}).ttl, of(Json{{"ttl", 300}}, DNSType::hostsFile).ttl), std::pair(std::int64_t{45}, std::int64_t{-1}));
    const auto two = of(Json{{"ips", {"1.2.3.4", "FE80::1"}}, {"comment", "c"}});
    EXPECT_EQ(textsOf(two.ipsString(), two.comment, of(Json{{"ips", {"", 7}}}).ipsString(), of(Json::object(), DNSType{9}).typeString()),
              (Texts{"1.2.3.4, [fe80::1]", "c", "--", "Unknown"}));
    const auto parsed = VDDNSInfo::initWithJSONString(R"({"domain":"x.example","ips":["10.0.0.1"],"ttl":9})", DNSType::dynamic);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(std::pair(parsed->domain, parsed->ttl), std::pair(std::string("x.example"), std::int64_t{9}));
    EXPECT_FALSE(VDDNSInfo::initWithJSONString("not json", DNSType::dynamic));
    EXPECT_FALSE(VDDNSInfo::initWithJSONString("[]", DNSType::dynamic));
}

// A client's title: its name, else its address, with the port only for the service's own
// addresses; before the service said which those are, every address counts as remote.
TEST(VDProcessInfo, TitleOfLocalAndRemoteClients)
{
    const auto local = std::make_shared<const std::vector<std::string>>(std::vector<std::string>{"127.0.0.1", "::1"});
    const std::tuple<const char*, const char*, bool, const char*> cases[] = {
        {"127.0.0.1", "", true, "127.0.0.1:50000"}, {"127.0.0.1", "curl", true, "curl"}, {"192.168.1.20", "curl", true, "192.168.1.20"},
        {"::1", "", true, "[::1]:50000"}, {"::1", "", false, "::1"}, {"", "", false, ":50000"}};
    for (const auto& [host, name, known, title] : cases) {
        VDProcessInfo p;
        std::tie(p.fromHost, p.processName, p.fromPort) = std::tuple(host, name, 50000);
        p._localIPs = known ? local : nullptr;
        EXPECT_EQ(p.title(), title) << host << " " << name;
    }
}

} // namespace
} // namespace vd
