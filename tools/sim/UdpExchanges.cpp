#include "UdpExchanges.h"

#include <algorithm>
#include <array>

#include <nlohmann/json.hpp>

#include "TrafficModel.h"

namespace vd::sim {
namespace {

// Where UDP goes, and what the rules make of it.
struct Kind {
    const char* host;
    std::int64_t port;
    const char* rule;
    const char* policy;
};

constexpr std::array<Kind, 5> kKinds{{{"192.168.1.1", 53, "IP-CIDR,192.168.0.0/16", "DIRECT"},
                                      {"www.example.com", 443, "FINAL", "Proxy"},
                                      {"time.example.com", 123, "DOMAIN,time.example.com", "DIRECT"},
                                      {"telemetry.example.org", 443, "DOMAIN-SUFFIX,telemetry.example.org", "REJECT"},
                                      {"2001:db8::53", 53, "IP-CIDR6,2001:db8::/32", "DIRECT"}}};

} // namespace

std::vector<std::string> UdpExchanges::step(std::int64_t now)
{
    std::vector<std::string> texts;
    for (auto& u : open_) {
        moveOn(u, now);
        texts.push_back(textOf(u));
    }
    std::erase_if(open_, [](const Udp& u) { return u.tEnd != 0; });
    for (auto count = arrivals(); count > 0; --count) {
        Udp u = arrive(now);
        texts.push_back(textOf(u));
        open_.push_back(std::move(u));
    }
    return texts;
}

// The rule decides in the step after the arrival; the answer comes in the step after that.
void UdpExchanges::moveOn(Udp& u, std::int64_t now)
{
    ++u.stage;
    if (u.stage == 1) {
        u.status = u.policy == "REJECT" ? 2 : 1;
        if (u.status == 2)
            u.tEnd = now - random_.between(0, TrafficModel::kStepMs - 1);
    } else {
        u.direction = 1;
        u.tEnd = now - random_.between(0, TrafficModel::kStepMs - 1);
    }
}

std::int64_t UdpExchanges::arrivals()
{
    std::int64_t count = random_.chance(50) ? 1 : 0;
    if (scale_)
        count += std::min<std::int64_t>(20, static_cast<std::int64_t>(scale_) / 500);
    return count;
}

UdpExchanges::Udp UdpExchanges::arrive(std::int64_t now)
{
    const Client& client = clients_.pick();
    const Kind& kind = kKinds[random_.next() % kKinds.size()];
    Udp u;
    u.id = nextId_++;
    u.fromHost = client.profile.fromHost;
    u.fromPort = random_.between(49152, 65535);
    u.host = kind.host;
    u.port = kind.port;
    u.rule = kind.rule;
    u.policy = kind.policy;
    u.tTime = now - random_.between(0, TrafficModel::kStepMs - 1);
    u.tRule = u.tTime + random_.between(0, 2);
    return u;
}

std::string UdpExchanges::textOf(const Udp& u)
{
    const auto seconds = [](std::int64_t ms) { return static_cast<double>(ms) / 1000; };
    return nlohmann::ordered_json{{"id", u.id},
                                  {"status", u.status},
                                  {"direction", u.direction},
                                  {"fromHost", u.fromHost},
                                  {"fromPort", u.fromPort},
                                  {"host", u.host},
                                  {"port", u.port},
                                  {"outboundMode", "Rule"},
                                  {"ruleInfo", u.rule},
                                  {"policyName", u.policy},
                                  {"t_time", seconds(u.tTime)},
                                  {"t_rule_found", seconds(u.tRule)},
                                  {"t_end", seconds(u.tEnd)}}
        .dump();
}

} // namespace vd::sim
