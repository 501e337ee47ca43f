#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace vd::sim {

struct ModelOptions {
    std::uint64_t seed = 1;
    // Active tunnels held at exactly this count after every step; 0: a natural load that drifts
    // between 20 and 60 tunnels.
    std::size_t scale = 0;
    // Adds, after the warm-up, one recent record per body of the gallery (BodyGallery.h).
    bool bodyGallery = false;
    // This share of the tunnels (0 to 1) are idle keep-alive connections: once open, no bytes
    // move on them, so their texts stay byte for byte the same from one report to the next.
    double idleShare = 0;
};

// The simulated proxy's traffic: processes on this machine and a few remote devices open
// tunnels, transfer, and close them into the recent records; names are resolved into a DNS
// cache that expires; UDP exchanges come and go.
//
// Time is the model's own: every step moves it on by kStepMs, however long the real interval
// between steps is, and every random choice comes from one generator seeded once. So the
// state after n steps depends on the seed and on the commands received, nothing else.
// Time stamps are milliseconds since the service started and go out as seconds.
//
// Numbering: one counter hands out tunnel ids when tunnels open and places in the record log
// when they close, so a record's place is always above its id. A record's "endId" is its
// place + 1: the place where a request for the records after it begins. Ranges of recent
// records are given in places, inclusive at both ends, so a client that asks "from" the
// largest endId it holds gets exactly the records it does not have yet.
//
// Not thread-safe: the simulator uses it from its one io_context thread.
class TrafficModel {
public:
    static constexpr std::int64_t kStepMs = 250;
    // Steps taken before anyone can connect, so the first client finds a proxy that has been
    // busy for a while: active tunnels, recent records and a filled DNS cache.
    static constexpr int kWarmUpSteps = 40;
    // The record log keeps this many of the newest records.
    static constexpr std::size_t kRecentLimit = 10000;

    explicit TrafficModel(ModelOptions options);
    ~TrafficModel();
    TrafficModel(const TrafficModel&) = delete;
    TrafficModel& operator=(const TrafficModel&) = delete;

    struct StepResult {
        bool dnsChanged = false;
        // One JSON text per UDP exchange that changed during the step.
        std::vector<std::string> udpTexts;
    };
    StepResult step();

    std::int64_t nowMs() const;
    std::uint64_t steps() const;

    // Addresses of this machine besides the loopback ones; clients from them are local.
    const std::vector<std::string>& localAddresses() const;

    // Traffic recording captures bodies of tunnels opened while it is on; MitM opens the TLS
    // of tunnels opened while it is on, which shows their inner headers and bodies.
    bool recording() const;
    void setRecording(bool on);
    bool mitm() const;
    void setMitm(bool on);

    std::size_t activeCount() const;
    // The active tunnels' texts, each as a JSON string literal, separated by commas: the
    // inside of a "tunnels" list. Kept between steps, so asking twice costs one build.
    const std::string& activeTexts();

    struct RecentRange {
        std::int64_t from = std::numeric_limits<std::int64_t>::min();
        std::int64_t to = std::numeric_limits<std::int64_t>::max();
        // At most this many records from the start of the range, or from its end.
        std::optional<std::int64_t> firstCount;
        std::optional<std::int64_t> lastCount;
    };
    // The records in the range, oldest first, written as activeTexts() writes them.
    std::string recentTexts(const RecentRange& range) const;
    std::size_t recentCount() const;

    // {"host_file": [...], "host_config": [...], "record": [...]}
    nlohmann::ordered_json dnsTable() const;
    // Empties the dynamic cache; the number of entries dropped.
    std::size_t purgeDns();
    // Drops one dynamic entry; false when there was none for the name.
    bool removeDns(std::string_view domain);

    // Ends an active tunnel at once as a manual close; false when no active tunnel has the id.
    bool closeTunnel(std::int64_t id);

    // The captured HTTP request or response of a tunnel, header block and body: nothing for
    // an unknown tunnel, empty when nothing was captured.
    std::optional<std::string> capturedMessage(std::int64_t id, bool request) const;
    // The PNG icon of a client application; nothing for a bundle id no process here has.
    std::optional<std::string> icon(std::string_view bundleId) const;

    // The local processes seen, and the service's byte counters: answers nobody relies on.
    nlohmann::ordered_json processes() const;
    nlohmann::ordered_json trafficInfo() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vd::sim
