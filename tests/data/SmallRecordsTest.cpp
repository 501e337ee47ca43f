#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "data/VDDNSInfo.h"
#include "data/VDProcessInfo.h"
#include "data/VDUDPTunnelInfo.h"

namespace vd {
namespace {

using Json = nlohmann::ordered_json;

TEST(VDUDPTunnelInfo, ReadsItsFieldsAndTexts)
{
    const std::string text = R"({"id":3,"status":1,"direction":0,"fromHost":"::1","fromPort":5353,"host":"8.8.8.8",)"
                             R"("port":53,"outboundMode":"Rule","ruleInfo":"FINAL","policyName":"Proxy","t_time":2.5,)"
                             R"("t_rule_found":2.6,"t_end":3.0})";
    const auto u = VDUDPTunnelInfo::initWithJSONString(text, 100);
    ASSERT_TRUE(u);
    EXPECT_EQ(u->rawData(), text);
    EXPECT_EQ(u->id_(), 3);
    EXPECT_EQ(u->status(), UDPStatus::sent);
    EXPECT_EQ(u->direction(), 0);
    EXPECT_EQ(u->outboundMode(), "Rule");
    EXPECT_EQ(u->ruleInfo(), "FINAL");
    EXPECT_EQ(u->policyName(), "Proxy");
    EXPECT_DOUBLE_EQ(u->t_time(), 2.5);
    EXPECT_DOUBLE_EQ(u->t_rule_found(), 2.6);
    EXPECT_DOUBLE_EQ(u->t_end(), 3.0);
    EXPECT_DOUBLE_EQ(u->startTime(), 102.5);
    EXPECT_EQ(u->statusString(), "Sent");
    EXPECT_EQ(u->fromString(), "[::1]:5353");
    EXPECT_EQ(u->serverString(), "8.8.8.8:53");
    EXPECT_FALSE(VDUDPTunnelInfo::initWithJSONString("[1]", 0));
    EXPECT_FALSE(VDUDPTunnelInfo::initWithJSONString("{", 0));
}

TEST(VDUDPTunnelInfo, StatusTextPutsReceivedFirst)
{
    const auto status = [](int direction, int status) {
        return VDUDPTunnelInfo::initWithJSONString(Json{{"direction", direction}, {"status", status}}.dump(), 0)->statusString();
    };
    EXPECT_EQ(status(1, 2), "Recved");
    EXPECT_EQ(status(1, 0), "Recved");
    EXPECT_EQ(status(0, 0), "Active");
    EXPECT_EQ(status(0, 1), "Sent");
    EXPECT_EQ(status(2, 2), "Fail");
    EXPECT_EQ(status(0, 3), "Unknown");
    EXPECT_EQ(VDUDPTunnelInfo::initWithJSONString("{}", 0)->serverString(), "--");
}

TEST(VDDNSInfo, ServerFallsBackToDoHAndTtlOnlyForDynamicEntries)
{
    constexpr auto configured = DNSType::configured;
    constexpr auto hostsFile = DNSType::hostsFile;
    constexpr auto dynamic = DNSType::dynamic;
    const auto doh = VDDNSInfo::initWithDictionary(Json{{"domain", "a.example"}, {"dns", ""}, {"doh", "https://d/q"}, {"ttl", 30}}, dynamic);
    EXPECT_EQ(doh.dns, "https://d/q");
    EXPECT_EQ(doh.ttl, 30);
    EXPECT_EQ(VDDNSInfo::initWithDictionary(Json{{"dns", "1.1.1.1"}, {"doh", "https://d/q"}}, dynamic).dns, "1.1.1.1");
    EXPECT_EQ(VDDNSInfo::initWithDictionary(Json{{"dns", 5}, {"doh", "https://d/q"}}, dynamic).dns, "https://d/q");
    EXPECT_EQ(VDDNSInfo::initWithDictionary(Json{{"ttl", 300}}, configured).ttl, -1);
    EXPECT_EQ(VDDNSInfo::initWithDictionary(Json{{"ttl", 300}}, hostsFile).ttl, -1);
    EXPECT_EQ(VDDNSInfo::initWithDictionary(Json::object(), dynamic).ttl, -1);
    EXPECT_EQ(VDDNSInfo::initWithDictionary(Json{{"ttl", "45"}}, dynamic).ttl, 45);
}

TEST(VDDNSInfo, TextsOfTypeAndAddresses)
{
    const auto two = VDDNSInfo::initWithDictionary(Json{{"ips", {"1.2.3.4", "FE80::1"}}, {"comment", "c"}}, DNSType::hostsFile);
    EXPECT_EQ(two.ipsString(), "1.2.3.4, [fe80::1]");
    EXPECT_EQ(two.comment, "c");
    EXPECT_EQ(two.typeString(), "System");
    EXPECT_EQ(VDDNSInfo::initWithDictionary(Json{{"ips", Json::array()}}, DNSType::configured).ipsString(), "--");
    EXPECT_EQ(VDDNSInfo::initWithDictionary(Json{{"ips", {"", 7}}}, DNSType::configured).ipsString(), "--");
    EXPECT_EQ(VDDNSInfo::initWithDictionary(Json::object(), DNSType::configured).typeString(), "Config");
    EXPECT_EQ(VDDNSInfo::initWithDictionary(Json::object(), DNSType::dynamic).typeString(), "Dynamic");
    EXPECT_EQ(VDDNSInfo::initWithDictionary(Json::object(), DNSType{9}).typeString(), "Unknown");
}

TEST(VDDNSInfo, FromText)
{
    const auto parsed = VDDNSInfo::initWithJSONString(R"({"domain":"x.example","ips":["10.0.0.1"],"ttl":9})", DNSType::dynamic);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->domain, "x.example");
    EXPECT_EQ(parsed->ttl, 9);
    EXPECT_FALSE(VDDNSInfo::initWithJSONString("not json", DNSType::dynamic));
    EXPECT_FALSE(VDDNSInfo::initWithJSONString("[]", DNSType::dynamic));
}

TEST(VDProcessInfo, TitleOfLocalAndRemoteClients)
{
    const auto local = std::make_shared<const std::vector<std::string>>(std::vector<std::string>{"127.0.0.1", "localhost", "240.0.0.1", "::1"});
    VDProcessInfo p;
    p._localIPs = local;
    p.fromHost = "127.0.0.1";
    p.fromPort = 50000;
    EXPECT_EQ(p.title(), "127.0.0.1:50000");
    p.processName = "curl";
    EXPECT_EQ(p.title(), "curl");
    p.fromHost = "192.168.1.20";
    EXPECT_EQ(p.title(), "192.168.1.20");
    p.fromHost = "::1";
    p.processName.clear();
    EXPECT_EQ(p.title(), "[::1]:50000");
    // Before the service said which addresses are its own, every address counts as remote.
    p._localIPs.reset();
    EXPECT_EQ(p.title(), "::1");
    p.fromHost.clear();
    EXPECT_EQ(p.title(), ":50000");
}

} // namespace
} // namespace vd
