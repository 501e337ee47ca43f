#include "TrafficModel.h"

#include <algorithm>
#include <tuple>

#include "AppIcon.h"
#include "BodyGallery.h"
#include "ClientPopulation.h"
#include "DnsCache.h"
#include "HttpExchange.h"
#include "RecordLog.h"
#include "TrafficGenerator.h"
#include "TransferProgress.h"
#include "Tunnel.h"
#include "TunnelOpener.h"
#include "UdpExchanges.h"

namespace vd::sim {

// Every part draws from the one generator, in the order of the declarations below and of the
// step's phases, so a seed gives the same traffic in every run.
struct TrafficModel::State {
    explicit State(ModelOptions options)
        : options(options), random(options.seed), clients(random), dns(random), bodies(options.seed),
          opener(random, clients, dns, bodies), udp(random, clients, options.scale),
          target(options.scale ? static_cast<std::int64_t>(options.scale) : 35)
    {
    }

    StepResult step();
    void advanceActive();
    void closeDue();
    void openNew();
    std::int64_t openingsWanted();
    bool idleKeepAlive(std::int64_t id) const;
    // Ends the tunnel into the record log; the caller takes it off the active list.
    void close(Tunnel& t, CloseReason reason, std::int64_t tClose);
    const std::string& activeTexts();
    const Tunnel* findActive(std::int64_t id) const;

    ModelOptions options;
    TrafficGenerator random;
    ClientPopulation clients;
    DnsCache dns;
    BodyStore bodies;
    TunnelOpener opener;
    UdpExchanges udp;
    std::int64_t target;
    std::int64_t now = 0;
    std::uint64_t steps = 0;
    // Tunnel ids when they open and places in the record log when they close.
    std::int64_t nextNumber = 1;
    CaptureSwitches capture;
    ByteTotals totals;
    std::vector<Tunnel> active;
    RecordLog recent;
    std::string activeReport;
    bool activeValid = false;
    std::vector<std::string> locals{"192.168.1.10", "fd00::10"};
};

TrafficModel::StepResult TrafficModel::State::step()
{
    now += kStepMs;
    ++steps;
    dns.forgetChanges();
    activeValid = false;
    advanceActive();
    closeDue();
    openNew();
    dns.expire(now);

    StepResult result;
    result.udpTexts = udp.step(now);
    result.dnsChanged = dns.changed();
    return result;
}

void TrafficModel::State::advanceActive()
{
    for (auto& t : active)
        advance(t, now, random, totals);
}

// Tunnels that are due close in the order they ended, so places follow time.
void TrafficModel::State::closeDue()
{
    std::vector<std::size_t> due;
    for (std::size_t i = 0; i < active.size(); ++i) {
        if (active[i].tPlannedEnd <= now)
            due.push_back(i);
    }
    std::sort(due.begin(), due.end(), [&](std::size_t a, std::size_t b) {
        return std::tie(active[a].tPlannedEnd, active[a].id) < std::tie(active[b].tPlannedEnd, active[b].id);
    });
    for (const auto i : due)
        close(active[i], active[i].plannedReason, std::max(active[i].tPlannedEnd, active[i].tStart + 1));
    std::erase_if(active, [](const Tunnel& t) { return !t.exchange; });
}

void TrafficModel::State::openNew()
{
    for (auto opens = openingsWanted(); opens > 0; --opens) {
        active.push_back(opener.open(nextNumber++, now, capture));
        active.back().idle = idleKeepAlive(active.back().id);
        advance(active.back(), now, random, totals);
    }
}

// Chosen from the seed and the id alone: the generator's draws are not touched, so a share of
// 0 leaves the traffic exactly as it was, and the same seed and share give the same tunnels.
bool TrafficModel::State::idleKeepAlive(std::int64_t id) const
{
    if (options.idleShare <= 0)
        return false;
    std::uint64_t h = options.seed + 0x9e3779b97f4a7c15ULL * static_cast<std::uint64_t>(id);
    h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ULL;
    h = (h ^ (h >> 27)) * 0x94d049bb133111ebULL;
    h ^= h >> 31;
    return static_cast<double>(h >> 11) * 0x1.0p-53 < options.idleShare;
}

// A drifting load by default, an exact count for load tests.
std::int64_t TrafficModel::State::openingsWanted()
{
    const auto count = static_cast<std::int64_t>(active.size());
    if (options.scale)
        return target - count;
    target = std::clamp<std::int64_t>(target + random.between(-1, 1), 20, 60);
    return count < target ? std::min<std::int64_t>(target - count, random.between(1, 4)) : (random.chance(15) ? 1 : 0);
}

void TrafficModel::State::close(Tunnel& t, CloseReason reason, std::int64_t tClose)
{
    settle(t, reason, totals);
    const std::int64_t tEnd = tClose + random.between(0, 3);
    Record record;
    record.id = t.id;
    record.place = nextNumber++;
    record.text = tunnelText(t, now, record.place + 1, reason, tClose, tEnd);
    record.exchange = std::move(t.exchange);
    record.hasReceive = t.hasReceive;
    recent.add(std::move(record));
    activeValid = false;
}

const std::string& TrafficModel::State::activeTexts()
{
    if (activeValid)
        return activeReport;
    activeReport.clear();
    for (auto& t : active) {
        if (t.dirty) {
            t.text = tunnelText(t, now, 0, CloseReason::complete, 0, 0);
            t.dirty = false;
        }
        if (!activeReport.empty())
            activeReport += ',';
        activeReport += t.text;
    }
    activeValid = true;
    return activeReport;
}

const Tunnel* TrafficModel::State::findActive(std::int64_t id) const
{
    const auto it = std::find_if(active.begin(), active.end(), [&](const Tunnel& t) { return t.id == id; });
    return it == active.end() ? nullptr : &*it;
}

TrafficModel::TrafficModel(ModelOptions options) : state_(std::make_unique<State>(options))
{
    for (int i = 0; i < kWarmUpSteps; ++i)
        state_->step();
    if (options.bodyGallery) {
        for (Record& record : galleryRecords(state_->nextNumber, state_->now))
            state_->recent.add(std::move(record));
    }
}

TrafficModel::~TrafficModel() = default;

TrafficModel::StepResult TrafficModel::step() { return state_->step(); }
std::int64_t TrafficModel::nowMs() const { return state_->now; }
std::uint64_t TrafficModel::steps() const { return state_->steps; }
const std::vector<std::string>& TrafficModel::localAddresses() const { return state_->locals; }
bool TrafficModel::recording() const { return state_->capture.recording; }
void TrafficModel::setRecording(bool on) { state_->capture.recording = on; }
bool TrafficModel::mitm() const { return state_->capture.mitm; }
void TrafficModel::setMitm(bool on) { state_->capture.mitm = on; }
std::size_t TrafficModel::activeCount() const { return state_->active.size(); }
const std::string& TrafficModel::activeTexts() { return state_->activeTexts(); }
std::size_t TrafficModel::recentCount() const { return state_->recent.size(); }
std::string TrafficModel::recentTexts(const RecentRange& range) const { return state_->recent.texts(range); }
nlohmann::ordered_json TrafficModel::dnsTable() const { return state_->dns.table(state_->now); }
std::size_t TrafficModel::purgeDns() { return state_->dns.purge(); }
bool TrafficModel::removeDns(std::string_view domain) { return state_->dns.remove(domain); }
nlohmann::ordered_json TrafficModel::processes() const { return state_->clients.processes(); }

bool TrafficModel::closeTunnel(std::int64_t id)
{
    auto& active = state_->active;
    const auto it = std::find_if(active.begin(), active.end(), [&](const Tunnel& t) { return t.id == id; });
    if (it == active.end())
        return false;
    state_->close(*it, CloseReason::manualClose, std::max(state_->now, it->tStart + 1));
    active.erase(it);
    return true;
}

std::optional<std::string> TrafficModel::capturedMessage(std::int64_t id, bool request) const
{
    const Exchange* exchange = nullptr;
    bool received = false;
    if (const Tunnel* t = state_->findActive(id)) {
        exchange = t->exchange.get();
        received = t->hasReceive;
    } else if (const Record* r = state_->recent.find(id)) {
        exchange = r->exchange.get();
        received = r->hasReceive;
    }
    if (!exchange)
        return std::nullopt;
    if (!exchange->captured)
        return std::string();
    if (exchange->fixedResponseBody)
        return request ? std::string() : exchange->responseHead + *exchange->fixedResponseBody;
    const auto& bodies = state_->bodies;
    if (request)
        return exchange->requestBody == BodyKind::None ? std::string() : exchange->requestHead + bodies.requestBodyOf(*exchange);
    // A response counts as captured once its first bytes have come; one without a body has
    // nothing to show.
    if (!received || exchange->responseBody == BodyKind::None)
        return std::string();
    return exchange->responseHead + bodies.responseBodyOf(*exchange);
}

std::optional<std::string> TrafficModel::icon(std::string_view bundleId) const
{
    if (!state_->clients.hasBundle(bundleId))
        return std::nullopt;
    return appIconPng(bundleId);
}

nlohmann::ordered_json TrafficModel::trafficInfo() const
{
    std::int64_t rxSpeed = 0;
    std::int64_t txSpeed = 0;
    for (const auto& t : state_->active) {
        rxSpeed += t.rxSpeed;
        txSpeed += t.txSpeed;
    }
    return {{"rx", state_->totals.rx},
            {"tx", state_->totals.tx},
            {"rx_speed", rxSpeed},
            {"tx_speed", txSpeed},
            {"active", state_->active.size()},
            {"recent", state_->recent.size()}};
}

} // namespace vd::sim
