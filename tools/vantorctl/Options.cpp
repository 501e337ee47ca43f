#include "Options.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <optional>

#include <CLI/CLI.hpp>

#include "ExitCodes.h"
#include "VdVersion.h"
#include "link/ServiceContract.h"
#include "platform/Numbers.h"
#include "platform/UserPaths.h"

namespace vd::ctl {
namespace {

constexpr const char* kPasswordVariable = "VANTOR_PASSWORD";
constexpr std::int64_t kDefaultRecentCount = 50;

const char* const kFooter = R"(
Exit codes:
  0    done
  1    the command failed (no such tunnel or record, a file could not be written, ...)
  2    bad arguments
  3    no connection to the service, or the connection was lost
  4    the service refused the login (wrong password)
  5    the service did not answer in time
  130  interrupted (except watch, udp and export, which are meant to end that way: 0)

The password may also come from the environment variable VANTOR_PASSWORD, which keeps it out
of the shell history; --password takes precedence.

--usb reaches usbmuxd at /var/run/usbmuxd, or where USBMUXD_SOCKET_ADDRESS points (a socket
path, or host:port). The link waits for a device to attach and connects to the last one.
)";

std::string firstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

// CLI11's own range checks quote their bounds with every digit of a double, which makes for
// an unreadable error; these say what is wanted.
const CLI::Validator kWholeNumber(
    [](std::string& text) -> std::string {
        if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return "expected a whole number of at least 0, got '" + text + "'";
        return {};
    },
    "N");

// Seconds are read here rather than by CLI11, which reads reals with the C library and so with
// the decimal separator of whatever locale the process runs in: "0.5" must mean half a second
// everywhere. The bounds are inclusive; without `most` there is no upper one.
CLI::Validator seconds(double least, std::optional<double> most = std::nullopt)
{
    const std::string wanted = most ? "from " + numbers::general(least) + " to " + numbers::general(*most)
                                    : "of at least " + numbers::general(least);
    return CLI::Validator(
        [least, most, wanted](std::string& text) -> std::string {
            const auto value = numbers::wholeDouble(text);
            if (!value || !std::isfinite(*value) || *value < least || (most && *value > *most))
                return "expected a number of seconds " + wanted + ", got '" + text + "'";
            return {};
        },
        most ? "SECONDS in [" + numbers::general(least) + " - " + numbers::general(*most) + "]" : "SECONDS");
}

// An option of seconds, checked by `check` before it is stored in `target`.
CLI::Option* addSeconds(CLI::App& app, const std::string& name, double& target, const std::string& help,
                        const CLI::Validator& check)
{
    const auto store = [&target](const std::string& text) { target = numbers::wholeDouble(text).value_or(0); };
    return app.add_option_function<std::string>(name, store, help)->type_name("FLOAT")->check(check);
}

} // namespace

std::string Target::describe() const
{
    if (usbPort)
        return "USB device port " + std::to_string(*usbPort);
    return host.empty() ? socketPath : host + ":" + std::to_string(port);
}

std::variant<Options, int> parseArguments(int argc, char** argv)
{
    Options options;
    options.target.socketPath = contract::localSocketPath(paths::home()).string();
    options.target.port = contract::kDefaultPort;
    int port = contract::kDefaultPort;

    CLI::App app{"vantorctl: look at and steer a Vantor service from a terminal or a script.\n"
                 "Tables are aligned for people; --json prints one JSON object per line for scripts."};
    // Global options may follow the command too: `vantorctl tunnels --json`.
    app.name("vantorctl");
    app.fallthrough();
    app.require_subcommand(1);
    app.footer(kFooter);
    app.set_version_flag("--version", "vantorctl " VD_VERSION_TEXT);

    // The default is named, not expanded: this help also becomes the installed manual page.
    auto* socket = app.add_option("--socket", options.target.socketPath, "The local service's socket (default: ~/Vantor/Tmp/db.connect)");
    auto* host = app.add_option("--host", options.target.host, "A remote service's host name or address (TCP)");
    app.add_option("--port", port, "The remote service's port")
        ->capture_default_str()
        ->check(CLI::Range(contract::kRemotePorts.first, contract::kRemotePorts.last));
    auto* usb = app.add_option("--usb", options.target.usbPort,
                               "The service on a device attached by USB, through usbmuxd, by the port you would "
                               "enter in the dashboard (it listens one above)")
                    ->check(CLI::Range(contract::kUSBPorts.first, contract::kUSBPorts.last));
    app.add_option("--password", options.target.password, "The remote or USB service's password")->envname(kPasswordVariable);
    socket->excludes(host);
    usb->excludes(socket)->excludes(host);
    app.add_flag("--json", options.json, "One JSON object per line instead of a table");
    addSeconds(app, "--timeout", options.timeoutSeconds, "Seconds to wait for the login and for each answer",
               seconds(0.001, 86400.0))
        ->default_str(numbers::general(options.timeoutSeconds));
    app.add_flag("--verbose", options.verbose, "Show the link's own log lines on stderr");

    const auto command = [&](const char* name, const char* help, Command which) {
        auto* sub = app.add_subcommand(name, help);
        sub->callback([&options, which] { options.command = which; });
        return sub;
    };

    command("tunnels", "List the active tunnels (connections)", Command::Tunnels);

    options.count = kDefaultRecentCount;
    auto* recent = command("recent", "List the most recently finished tunnels", Command::Recent);
    recent->add_option("--count", options.count, "How many records")->capture_default_str()->check(kWholeNumber);

    command("dns", "List the DNS table: configured, system and cached entries", Command::Dns);

    std::int64_t udpCount = 0;
    double udpSeconds = 0;
    auto* udp = command("udp", "Print UDP exchanges as the service reports them (for one second, or go on with --watch)",
                        Command::Udp);
    udp->add_flag("--watch", options.udpWatch, "Print each record as it arrives until interrupted");
    udp->add_option("--count", udpCount, "Stop after this many records")->check(kWholeNumber);
    addSeconds(*udp, "--seconds", udpSeconds, "Stop after this many seconds", seconds(0));

    std::int64_t watchCount = 0;
    double watchSeconds = 0;
    auto* watch = command("watch", "Show the active tunnels, refreshed until interrupted", Command::Watch);
    addSeconds(*watch, "--interval", options.interval, "Seconds between refreshes", seconds(0.05, 3600.0))
        ->default_str(numbers::general(options.interval));
    watch->add_option("--count", watchCount, "Stop after this many refreshes")->check(kWholeNumber);
    addSeconds(*watch, "--seconds", watchSeconds, "Stop after this many seconds", seconds(0));

    auto* close = command("close", "Close an active tunnel", Command::Close);
    close->add_option("id", options.id, "The tunnel's id")->required()->check(kWholeNumber);

    std::string recordState;
    auto* record = command("record", "Switch traffic recording on or off", Command::Record);
    record->add_option("state", recordState, "on or off")->required()->check(CLI::IsMember({"on", "off"}));

    std::string mitmState;
    auto* mitm = command("mitm", "Switch HTTPS decryption (MitM) on or off", Command::Mitm);
    mitm->add_option("state", mitmState, "on or off")->required()->check(CLI::IsMember({"on", "off"}));

    command("dns-purge", "Empty the DNS cache", Command::DnsPurge);

    auto* dnsDelete = command("dns-delete", "Drop one cached DNS entry", Command::DnsDelete);
    dnsDelete->add_option("domain", options.domain, "The cached domain")->required();

    std::string part;
    auto* body = command("body", "Fetch the captured request or response of a tunnel (raw bytes)", Command::Body);
    body->add_option("part", part, "request or response")->required()->check(CLI::IsMember({"request", "response"}));
    body->add_option("id", options.id, "The tunnel's id")->required()->check(kWholeNumber);
    body->add_option("-o,--output", options.outputFile, "Write the body to this file instead of stdout");
    body->add_flag("--decoded", options.decoded,
                   "Write the body alone instead of the captured message: its chunked transfer coding and its "
                   "Content-Encoding (gzip, deflate, br, zstd) undone. A body that cannot be decoded whole (cut short, "
                   "damaged, past 256 MiB decoded) is written as far as it decodes, and the command fails");

    std::int64_t harCount = kDefaultRecentCount;
    auto* har = command("har", "Write recent requests, with their captured bodies, to an HTTP Archive (HAR 1.2) file",
                        Command::Har);
    auto* harRecent = har->add_option("--recent", harCount, "The most recent N records")->capture_default_str()->check(kWholeNumber);
    har->add_option("--ids", options.ids, "These recent records (ids separated by commas)")
        ->delimiter(',')
        ->check(kWholeNumber)
        ->excludes(harRecent);
    har->add_option("-o,--output", options.outputFile, "The file to write")->required();

    auto* exporter = command("export",
                             "Serve Prometheus metrics of one service or several, polled every second, until interrupted",
                             Command::Export);
    exporter->add_option("--listen", options.listen, "Serve /metrics at HOST:PORT (a loopback address unless --allow-remote)")
        ->capture_default_str();
    exporter->add_option("--target", options.exportTargets,
                         "NAME=LINK, once per service (LINK: unix:PATH, tcp://HOST:PORT or usb://PORT); its password comes "
                         "from VANTOR_PASSWORD_<NAME> (upper case), else VANTOR_PASSWORD. Without any, the service the "
                         "global options name, as \"default\"");
    exporter->add_flag("--allow-remote", options.allowRemote, "Allow a --listen address other machines can reach");
    exporter->add_option("--token-file", options.tokenFile,
                         "A file holding the bearer token every scrape must carry (required with --allow-remote)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
    } catch (const CLI::ParseError& error) {
        std::cerr << "vantorctl: " << firstLine(error.what()) << " (see vantorctl --help)\n";
        return kExitBadArguments;
    }

    options.target.port = static_cast<std::uint16_t>(port);
    if (options.command == Command::Udp) {
        options.count = udpCount;
        options.seconds = udpSeconds;
    } else if (options.command == Command::Watch) {
        options.count = watchCount;
        options.seconds = watchSeconds;
    } else if (options.command == Command::Har) {
        options.count = harCount;
    }
    options.on = (options.command == Command::Record ? recordState : mitmState) == "on";
    options.requestBody = part == "request";
    return options;
}

} // namespace vd::ctl
