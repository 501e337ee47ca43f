#pragma once

#include <cstdint>
#include <optional>
#include <ostream>

#include "ExitCodes.h"
#include "Options.h"
#include "Session.h"
#include "platform/Bytes.h"
#include "platform/MainLoop.h"

namespace vd::ctl {

// Each command runs on a logged-in session and writes its result to `out`; a failure throws
// Failure, so what they return is the exit code of a command that did its job.

// tunnels, recent, dns: one answer, printed once.
ExitCode listTunnels(Session& session, const Options& options, std::ostream& out);
ExitCode listRecent(Session& session, const Options& options, std::ostream& out);
ExitCode listDns(Session& session, const Options& options, std::ostream& out);

// watch, udp: live until a limit is reached or the user interrupts.
ExitCode watchTunnels(Session& session, const Options& options, std::ostream& out);
ExitCode watchUdp(Session& session, const Options& options, std::ostream& out);

// close, record, mitm, dns-purge, dns-delete: change something, confirm it, print the outcome.
ExitCode closeTunnel(Session& session, const Options& options, std::ostream& out);
ExitCode setSwitch(Session& session, const Options& options, std::ostream& out);
ExitCode purgeDns(Session& session, const Options& options, std::ostream& out);
ExitCode deleteDns(Session& session, const Options& options, std::ostream& out);

// body: the raw bytes of a captured request or response.
ExitCode fetchBody(Session& session, const Options& options, std::ostream& out);
// The whole message the service captured (start line, header block, body), empty when it
// captured none; none when the service knows no such tunnel.
std::optional<Bytes> fetchCapturedMessage(Session& session, std::int64_t id, bool request);

// har: the chosen recent records, their captured bodies included, as an HTTP Archive file.
ExitCode exportHar(Session& session, const Options& options, std::ostream& out);

// export: Prometheus metrics of the targets, served until interrupted. It runs without the
// session the other commands share: each target has a link of its own that comes and goes.
ExitCode exportMetrics(MainLoop& loop, const Options& options, std::ostream& out);

ExitCode runCommand(Session& session, const Options& options, std::ostream& out);

} // namespace vd::ctl
