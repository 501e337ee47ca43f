#include <algorithm>
#include <atomic>
#include <cctype>
#include <fstream>
#include <sstream>

#include "../Commands.h"
#include "../Interrupt.h"
#include "../LinkWatch.h"
#include "../Output.h"
#include "../ScratchFolder.h"
#include "Exposition.h"
#include "ExportTargets.h"
#include "MetricsServer.h"
#include "TargetPoller.h"
#include "platform/MainQueue.h"

namespace vd::ctl {
namespace {

using namespace std::chrono_literals;

// How often the main loop looks at the interrupt flag between the tasks it runs.
constexpr auto kIdleSlice = 200ms;
// Ending a link is quick; this only keeps a wedged one from holding up the exit.
constexpr auto kStopLimit = 5s;

std::string tokenFrom(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file)
        throw Failure(kExitBadArguments, "cannot read the token file " + path);
    std::string token = text.str();
    // Editors end a file with a line break, which is not part of the token.
    while (!token.empty() && std::isspace(static_cast<unsigned char>(token.back())))
        token.pop_back();
    if (token.empty())
        throw Failure(kExitBadArguments, "the token file " + path + " is empty");
    return token;
}

std::optional<std::string> scrapeToken(const Options& options, const ListenAddress& where)
{
    if (!where.loopback && !options.allowRemote)
        throw Failure(kExitBadArguments,
                      "--listen " + options.listen +
                          " is not a loopback address; the metrics tell what this machine talks to, so serving "
                          "them to other machines needs --allow-remote and --token-file (see vantorctl --help)");
    if (options.allowRemote && options.tokenFile.empty())
        throw Failure(kExitBadArguments, "--allow-remote needs --token-file (see vantorctl --help)");
    if (options.tokenFile.empty())
        return std::nullopt;
    return tokenFrom(options.tokenFile);
}

std::string urlHost(const std::string& host)
{
    return host.find(':') == std::string::npos ? host : "[" + host + "]";
}

} // namespace

ExitCode exportMetrics(MainLoop& loop, const Options& options, std::ostream& out)
{
    const auto targets = exportTargetsOf(options);
    const ListenAddress where = listenAddressOf(options.listen);
    auto token = scrapeToken(options, where);

    const LinkWatch quiet(options.verbose);
    const ScratchFolder scratch;
    keepDataStoresIn(scratch);
    const auto loginTimeout = std::chrono::milliseconds(static_cast<std::int64_t>(options.timeoutSeconds * 1000));
    std::vector<std::shared_ptr<TargetPoller>> pollers;
    for (const auto& target : targets)
        pollers.push_back(TargetPoller::start(target, loginTimeout));

    {
        const MetricsServer server(where, std::move(token), [&pollers] {
            std::vector<NamedSample> samples;
            samples.reserve(pollers.size());
            for (const auto& poller : pollers)
                samples.push_back({poller->name(), poller->sample()});
            return exposition(samples);
        });
        out << "serving the metrics of " << targets.size() << (targets.size() == 1 ? " target" : " targets")
            << " at http://" << urlHost(where.host) << ":" << server.port() << "/metrics\n";
        flushOrFail(out);
        // USB links do their work on the main queue.
        while (!interrupted())
            loop.runUntil(interrupted, kIdleSlice);
    }

    auto stopped = std::make_shared<std::atomic<std::size_t>>(0);
    for (const auto& poller : pollers)
        poller->stop([stopped] {
            ++*stopped;
            MainQueue::shared()->async([] {});
        });
    loop.runUntil([&] { return *stopped == pollers.size(); }, kStopLimit);
    return kExitOk;
}

} // namespace vd::ctl
