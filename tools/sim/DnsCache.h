#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "Destinations.h"
#include "TrafficGenerator.h"

namespace vd::sim {

// The service's DNS table: names from the hosts file and from its configuration, which never
// expire, and the cache that resolving fills and time empties.
class DnsCache {
public:
    explicit DnsCache(TrafficGenerator& random);

    // Milliseconds resolving the site's name takes at `at`; a name not cached yet is cached.
    std::int64_t resolve(const Site& site, std::int64_t at);
    // Drops the entries whose time has run out by `now`.
    void expire(std::int64_t now);
    // Whether resolving or expiry changed the cache since the last forgetChanges().
    bool changed() const { return changed_; }
    void forgetChanges() { changed_ = false; }

    // {"host_file": [...], "host_config": [...], "record": [...]}, time to live counted from `now`.
    nlohmann::ordered_json table(std::int64_t now) const;
    // Empties the cache; the number of entries dropped.
    std::size_t purge();
    // Drops one cached entry; false when there was none for the name.
    bool remove(std::string_view domain);

private:
    // A name the service resolves from a file or from its configuration, never expiring.
    struct Named {
        std::string domain;
        std::vector<std::string> ips;
        std::string comment;
    };
    struct Entry {
        std::vector<std::string> ips;
        std::string server; // an address, or a DoH URL when `doh`
        bool doh = false;
        std::string comment;
        std::int64_t expiresMs = 0;
    };

    Entry lookUp(const Site& site, std::int64_t at);
    static nlohmann::ordered_json fixedList(const std::vector<Named>& entries);
    static nlohmann::ordered_json cachedEntry(const std::string& domain, const Entry& entry, std::int64_t now);

    TrafficGenerator& random_;
    std::vector<Named> hostsFile_;
    std::vector<Named> configured_;
    std::map<std::string, Entry, std::less<>> cached_;
    bool changed_ = false;
};

} // namespace vd::sim
