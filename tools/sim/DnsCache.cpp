#include "DnsCache.h"

namespace vd::sim {

using Json = nlohmann::ordered_json;

DnsCache::DnsCache(TrafficGenerator& random)
    : random_(random),
      hostsFile_{{"localhost", {"127.0.0.1", "::1"}, "/etc/hosts"},
                 {"broadcasthost", {"255.255.255.255"}, "/etc/hosts"},
                 {"printer.local", {"192.168.1.30"}, "/etc/hosts"}},
      configured_{{"router.lan", {"192.168.1.1"}, "Home router"},
                  {"nas.lan", {"192.168.1.5", "fd00::5"}, "Storage"},
                  {"api.staging.example.com", {"198.51.100.77"}, "Staging API, pinned"}}
{
}

std::int64_t DnsCache::resolve(const Site& site, std::int64_t at)
{
    if (site.literal)
        return 0;
    if (cached_.contains(site.host))
        return random_.between(0, 1);
    cached_.emplace(site.host, lookUp(site, at));
    changed_ = true;
    return random_.between(5, 120);
}

// What a real look-up of the name leaves in the cache.
DnsCache::Entry DnsCache::lookUp(const Site& site, std::int64_t at)
{
    Entry entry;
    entry.ips = addressesOf(site.host);
    entry.doh = random_.chance(30);
    entry.server = entry.doh ? "https://dns.example.net/dns-query" : "192.168.1.1";
    entry.comment = random_.chance(20) ? std::string("CNAME edge.") + (fnv1a(site.host) & 8 ? "example.net" : "example.com") : "";
    entry.expiresMs = at + random_.between(30, 600) * 1000;
    return entry;
}

void DnsCache::expire(std::int64_t now)
{
    changed_ = std::erase_if(cached_, [&](const auto& named) { return named.second.expiresMs <= now; }) > 0 || changed_;
}

Json DnsCache::table(std::int64_t now) const
{
    Json cached = Json::array();
    for (const auto& [domain, entry] : cached_)
        cached.push_back(cachedEntry(domain, entry, now));
    return {{"host_file", fixedList(hostsFile_)}, {"host_config", fixedList(configured_)}, {"record", std::move(cached)}};
}

Json DnsCache::fixedList(const std::vector<Named>& entries)
{
    Json list = Json::array();
    for (const auto& e : entries)
        list.push_back({{"domain", e.domain}, {"ips", e.ips}, {"comment", e.comment}});
    return list;
}

Json DnsCache::cachedEntry(const std::string& domain, const Entry& entry, std::int64_t now)
{
    Json out{{"domain", domain}, {"ips", entry.ips}};
    if (entry.doh) {
        out["dns"] = "";
        out["doh"] = entry.server;
    } else {
        out["dns"] = entry.server;
    }
    out["comment"] = entry.comment;
    out["ttl"] = (entry.expiresMs - now + 999) / 1000;
    return out;
}

std::size_t DnsCache::purge()
{
    const auto count = cached_.size();
    cached_.clear();
    return count;
}

bool DnsCache::remove(std::string_view domain)
{
    const auto it = cached_.find(domain);
    if (it == cached_.end())
        return false;
    cached_.erase(it);
    return true;
}

} // namespace vd::sim
