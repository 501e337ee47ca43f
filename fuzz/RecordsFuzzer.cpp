// Record construction: the first byte picks the kind of record (tunnel, UDP relay, DNS entry
// from text or from a parsed value) and the DNS type; the rest is the JSON text the service
// sent. Every derived field of a record that was made is read, as the views read them.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "data/VDDNSInfo.h"
#include "data/VDTunnelInfo.h"
#include "data/VDUDPTunnelInfo.h"

namespace {

void readTunnel(const vd::VDTunnelInfo& tunnel)
{
    (void)tunnel.status();
    (void)tunnel.statusString();
    (void)tunnel.closeReasonString();
    (void)tunnel.method();
    (void)tunnel.code();
    (void)tunnel.startTime();
    (void)tunnel.duration();
    (void)tunnel.processTitle();
    (void)tunnel.processDetailTitle();
    (void)tunnel.fromString();
    (void)tunnel.serverString();
    (void)tunnel.processInfo();
    (void)tunnel.requestHeaderString();
    (void)tunnel.responseHeaderString();
    (void)tunnel.timeAttributedString();
    (void)tunnel.SSLHeaderString();
    (void)tunnel.SSLModifiedHeaderString();
    (void)tunnel.SSLResponseHeader();
    (void)tunnel.modifiedHeaderString();
}

void readUDP(const vd::VDUDPTunnelInfo& udp)
{
    (void)udp.statusString();
    (void)udp.fromString();
    (void)udp.serverString();
    (void)udp.startTime();
}

void readDNS(const vd::VDDNSInfo& dns)
{
    (void)dns.typeString();
    (void)dns.ipsString();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t selector = data[0];
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto dnsType = static_cast<vd::DNSType>((selector >> 2) & 3);
    switch (selector & 3) {
    case 0:
        if (auto tunnel = vd::VDTunnelInfo::initWithJSONString(std::move(text), 1.7e9))
            readTunnel(*tunnel);
        break;
    case 1:
        if (auto udp = vd::VDUDPTunnelInfo::initWithJSONString(std::move(text), 1.7e9))
            readUDP(*udp);
        break;
    case 2:
        if (auto dns = vd::VDDNSInfo::initWithJSONString(text, dnsType))
            readDNS(*dns);
        break;
    default: {
        const auto value = nlohmann::ordered_json::parse(text, nullptr, false);
        if (!value.is_discarded())
            readDNS(vd::VDDNSInfo::initWithDictionary(value, dnsType));
        break;
    }
    }
    return 0;
}
