#include <algorithm>

#include "Commands.h"
#include "RecordOutput.h"
#include "data/VDNotifications.h"

namespace vd::ctl {
namespace {

void printTunnels(TunnelList tunnels, bool finished, const Options& options, std::ostream& out)
{
    // The service lists them in no particular order; ids are the order they were opened in.
    std::stable_sort(tunnels.begin(), tunnels.end(), [](const auto& a, const auto& b) { return a->id_() < b->id_(); });
    if (options.json) {
        for (const auto& tunnel : tunnels)
            printJsonLine(out, tunnelJson(*tunnel));
        return;
    }
    Table table = tunnelTable(finished);
    for (const auto& tunnel : tunnels)
        table.addRow(tunnelRow(*tunnel, finished));
    table.print(out);
}

} // namespace

ExitCode listTunnels(Session& session, const Options& options, std::ostream& out)
{
    auto& processer = session.processer();
    session.request(kVDCurrentTunnelRefreshed, [&] { processer.refreshCurrentRecord(); }, "the active tunnels");
    printTunnels(processer.currentTunnelInfos(), false, options, out);
    return kExitOk;
}

ExitCode listRecent(Session& session, const Options& options, std::ostream& out)
{
    auto& processer = session.processer();
    // An empty answer posts nothing, hence the round trip instead of waiting for the post.
    session.roundTrip([&] { processer.requestRecentRecordCount(options.count); }, "the recent tunnels");
    printTunnels(processer.recentTunnelInfos(), true, options, out);
    return kExitOk;
}

ExitCode listDns(Session& session, const Options& options, std::ostream& out)
{
    auto& processer = session.processer();
    session.request(kVDDNSRefreshed, [&] { processer.refreshDNSRecord(); }, "the DNS table");
    const auto entries = processer.dnsInfos();
    if (options.json) {
        for (const auto& entry : entries)
            printJsonLine(out, dnsJson(entry));
        return kExitOk;
    }
    Table table = dnsTable();
    for (const auto& entry : entries)
        table.addRow(dnsRow(entry));
    table.print(out);
    return kExitOk;
}

} // namespace vd::ctl
