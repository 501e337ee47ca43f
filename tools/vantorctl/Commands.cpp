#include "Commands.h"

namespace vd::ctl {

ExitCode runCommand(Session& session, const Options& options, std::ostream& out)
{
    switch (options.command) {
    case Command::Tunnels: return listTunnels(session, options, out);
    case Command::Recent: return listRecent(session, options, out);
    case Command::Dns: return listDns(session, options, out);
    case Command::Udp: return watchUdp(session, options, out);
    case Command::Watch: return watchTunnels(session, options, out);
    case Command::Close: return closeTunnel(session, options, out);
    case Command::Record:
    case Command::Mitm: return setSwitch(session, options, out);
    case Command::DnsPurge: return purgeDns(session, options, out);
    case Command::DnsDelete: return deleteDns(session, options, out);
    case Command::Body: return fetchBody(session, options, out);
    case Command::Har: return exportHar(session, options, out);
    // Runs without a session of its own (see main).
    case Command::Export: break;
    }
    return kExitFailed;
}

} // namespace vd::ctl
