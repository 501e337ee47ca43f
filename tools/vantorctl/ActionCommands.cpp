#include <algorithm>

#include "Commands.h"
#include "RecordOutput.h"
#include "data/VDNotifications.h"

namespace vd::ctl {
namespace {

bool isActive(const TunnelList& tunnels, std::int64_t id)
{
    return std::any_of(tunnels.begin(), tunnels.end(), [id](const auto& tunnel) { return tunnel->id_() == id; });
}

TunnelList activeTunnels(Session& session)
{
    auto& processer = session.processer();
    session.request(kVDCurrentTunnelRefreshed, [&] { processer.refreshCurrentRecord(); }, "the active tunnels");
    return processer.currentTunnelInfos();
}

std::vector<VDDNSInfo> dnsEntries(Session& session, const std::function<void()>& before)
{
    auto& processer = session.processer();
    session.request(kVDDNSRefreshed, [&] {
        if (before)
            before();
        processer.refreshDNSRecord();
    }, "the DNS table");
    return processer.dnsInfos();
}

std::size_t cachedCount(const std::vector<VDDNSInfo>& entries)
{
    return static_cast<std::size_t>(
        std::count_if(entries.begin(), entries.end(), [](const VDDNSInfo& entry) { return entry.type == DNSType::dynamic; }));
}

bool isCached(const std::vector<VDDNSInfo>& entries, const std::string& domain)
{
    return std::any_of(entries.begin(), entries.end(),
                       [&](const VDDNSInfo& entry) { return entry.type == DNSType::dynamic && entry.domain == domain; });
}

void printOutcome(const Options& options, std::ostream& out, const JsonObject& json, const std::string& text)
{
    if (options.json)
        printJsonLine(out, json);
    else
        out << text << '\n';
}

} // namespace

// The service answers a close it cannot do with a refusal the processor passes over, so the
// outcome is read off the active list before and after.
ExitCode closeTunnel(Session& session, const Options& options, std::ostream& out)
{
    const std::int64_t id = options.id;
    if (!isActive(activeTunnels(session), id))
        throw Failure(kExitFailed, "no active tunnel " + std::to_string(id));
    session.processer().requestCloseTunnel(id);
    if (isActive(activeTunnels(session), id))
        throw Failure(kExitFailed, "the service did not close tunnel " + std::to_string(id));
    printOutcome(options, out, {{"closed", id}}, "closed tunnel " + std::to_string(id));
    return kExitOk;
}

// The switch in the processor follows the service's reply; once the round trip is over the
// reply has come, and the switch shows what the service made of the request.
ExitCode setSwitch(Session& session, const Options& options, std::ostream& out)
{
    auto& processer = session.processer();
    const bool mitm = options.command == Command::Mitm;
    const char* name = mitm ? "mitm" : "record";
    session.roundTrip([&] { mitm ? processer.setMitmEnabled(options.on) : processer.setRecorderEnabled(options.on); },
                      std::string("the ") + name + " switch");
    const bool state = mitm ? processer.mitmEnabled() : processer.recorderEnabled();
    const char* stateText = state ? "on" : "off";
    if (state != options.on)
        throw Failure(kExitFailed, std::string("the service left ") + name + " " + stateText);
    printOutcome(options, out, {{name, state}}, std::string(name) + ": " + stateText);
    return kExitOk;
}

// The service tells how many entries it dropped only in a reply the processor passes over,
// so the count comes from the table before and after.
ExitCode purgeDns(Session& session, const Options& options, std::ostream& out)
{
    auto& processer = session.processer();
    const std::size_t before = cachedCount(dnsEntries(session, {}));
    const std::size_t after = cachedCount(dnsEntries(session, [&] { processer.purgeDNSRecord(); }));
    printOutcome(options, out, {{"cached_before", before}, {"cached_after", after}},
                 "purged the DNS cache: " + std::to_string(before) + " cached entries before, " + std::to_string(after) +
                     " after");
    return kExitOk;
}

ExitCode deleteDns(Session& session, const Options& options, std::ostream& out)
{
    auto& processer = session.processer();
    const std::string& domain = options.domain;
    if (!isCached(dnsEntries(session, {}), domain))
        throw Failure(kExitFailed, "no cached DNS entry for " + domain);
    if (isCached(dnsEntries(session, [&] { processer.removeDNSRecordOfDomain(domain); }), domain))
        throw Failure(kExitFailed, "the service kept the cached DNS entry for " + domain);
    printOutcome(options, out, {{"deleted", domain}}, "deleted the cached DNS entry for " + domain);
    return kExitOk;
}

} // namespace vd::ctl
